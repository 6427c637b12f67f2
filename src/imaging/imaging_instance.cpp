#include "imaging/imaging_library.h"

#include "imaging/wimlib_backend.h"

#include <atomic>

namespace {
std::atomic<ImagingLibrary *> g_replacement{nullptr};
}

ImagingLibrary &imaging()
{
    if (ImagingLibrary *r = g_replacement.load(std::memory_order_acquire))
        return *r;
    static WimlibBackend backend;
    return backend;
}

void setImaging(ImagingLibrary *library)
{
    g_replacement.store(library, std::memory_order_release);
}
