#pragma once

#include "imaging/wim_types.h"

#include <cstddef>
#include <utility>

class ImagingLibrary;

// Owns one archive or image handle of the imaging boundary and closes it,
// through the library that made it, when it goes out of scope. Movable, not
// copyable; used by one thread at a time, like the handle itself. The library
// must outlive the handle (a replacement installed for a test included).
class WimHandle
{
public:
    WimHandle() = default;
    // Takes `handle` (null is allowed: an empty owner).
    WimHandle(ImagingLibrary &library, HWIM handle) : m_library(&library), m_handle(handle) {}
    ~WimHandle() { close(); }

    WimHandle(WimHandle &&other) noexcept;
    WimHandle &operator=(WimHandle &&other) noexcept;
    WimHandle(const WimHandle &) = delete;
    WimHandle &operator=(const WimHandle &) = delete;

    HWIM get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    friend bool operator==(const WimHandle &h, std::nullptr_t) { return h.m_handle == nullptr; }

    // Closes the handle now. The library's answer: false when the close failed
    // (LastError() says why; the handle is gone all the same) or when there
    // was none.
    bool close();

    // Closes the one held, if any, and takes `handle` from `library`.
    void reset(ImagingLibrary &library, HWIM handle);

    // Gives the handle up unclosed: whoever takes it closes it.
    HWIM release() { return std::exchange(m_handle, nullptr); }

private:
    ImagingLibrary *m_library = nullptr;
    HWIM m_handle = nullptr;
};
