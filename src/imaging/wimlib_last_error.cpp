#include "imaging/wimlib_last_error.h"

#include "imaging/imaging_log.h"

namespace {
thread_local ImagingError t_lastFailure;
}

bool wimlibFail(ImagingError error)
{
    qCWarning(lcImaging).noquote() << error.text;
    t_lastFailure = std::move(error);
    return false;
}

const ImagingError &wimlibLastFailure()
{
    return t_lastFailure;
}
