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

namespace {
thread_local ImagingError t_unsupported;
}

bool ImagingLibrary::unsupported(const char *call)
{
    t_unsupported = {ImagingError::Kind::Unsupported, 0,
                     QStringLiteral("%1: not offered by this imaging library").arg(QLatin1String(call))};
    return false;
}

ImagingError ImagingLibrary::LastError() const
{
    const QString text = LastErrorText();
    if (text.isEmpty() && t_unsupported.kind != ImagingError::Kind::None)
        return t_unsupported;
    return {ImagingError::Kind::Other, 0, text};
}
