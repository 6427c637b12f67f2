#include "imaging/wim_handle.h"

#include "imaging/imaging_library.h"

WimHandle::WimHandle(WimHandle &&other) noexcept
    : m_library(other.m_library), m_handle(std::exchange(other.m_handle, nullptr))
{}

WimHandle &WimHandle::operator=(WimHandle &&other) noexcept
{
    if (this != &other) {
        close();
        m_library = other.m_library;
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

bool WimHandle::close()
{
    const HWIM handle = std::exchange(m_handle, nullptr);
    return handle && m_library->WIMCloseHandle(handle);
}

void WimHandle::reset(ImagingLibrary &library, HWIM handle)
{
    close();
    m_library = &library;
    m_handle = handle;
}
