#include "imaging/wimlib_last_error.h"

#include "imaging/imaging_log.h"

namespace {
thread_local ImagingError t_lastFailure;
}

bool wimlibFail(ImagingError error)
{
    // Debug only: failures are also how callers probe (an open tries read and
    // write, then read); the window logs the ones it reports, with their cause.
    qCDebug(lcImaging).noquote() << error.text;
    t_lastFailure = std::move(error);
    return false;
}

const ImagingError &wimlibLastFailure()
{
    return t_lastFailure;
}

ImagingError wimlibError(int code, int systemError, const QString &text)
{
    return {wimlibErrorKind(code, systemError), wimlibSystemError(code, systemError), text};
}
