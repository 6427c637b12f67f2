#include "imaging/wimlib_last_error.h"

#include "imaging/imaging_log.h"

#include <wimlib.h>

#include <cerrno>

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

ImagingError::Kind systemErrorKind(int systemError)
{
    switch (systemError) {
    case ENOENT:
    case ENOTDIR:
        return ImagingError::Kind::NotFound;
    case EACCES:
    case EPERM:
        return ImagingError::Kind::AccessDenied;
    case EROFS:
        return ImagingError::Kind::ReadOnlyFileSystem;
    case ENOSPC:
    case EDQUOT:
        return ImagingError::Kind::NoSpace;
    case ENAMETOOLONG:
        return ImagingError::Kind::PathTooLong;
    case EBUSY:
        return ImagingError::Kind::Busy;
    default:
        return ImagingError::Kind::Other;
    }
}

ImagingError wimlibError(int code, int systemError, const QString &text)
{
    // The file-system codes are exactly those whose kind follows errno.
    const bool system = wimlibErrorKind(code, EACCES) == ImagingError::Kind::AccessDenied;
    return {wimlibErrorKind(code, systemError), system ? systemError : 0, text};
}

ImagingError::Kind wimlibErrorKind(int code, int systemError)
{
    switch (code) {
    case WIMLIB_ERR_SUCCESS:
        return ImagingError::Kind::None;
    case WIMLIB_ERR_PATH_DOES_NOT_EXIST:
    case WIMLIB_ERR_INVALID_IMAGE:
        return ImagingError::Kind::NotFound;
    case WIMLIB_ERR_ABORTED_BY_PROGRESS:
        return ImagingError::Kind::Aborted;
    case WIMLIB_ERR_NOT_A_WIM_FILE:
        return ImagingError::Kind::NotAnArchive;
    case WIMLIB_ERR_INVALID_HEADER:
    case WIMLIB_ERR_INVALID_LOOKUP_TABLE_ENTRY:
    case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
    case WIMLIB_ERR_METADATA_NOT_FOUND:
    case WIMLIB_ERR_XML:
        return ImagingError::Kind::DamagedHeader;
    case WIMLIB_ERR_DECOMPRESSION:
    case WIMLIB_ERR_INVALID_RESOURCE_HASH:
    case WIMLIB_ERR_UNEXPECTED_END_OF_FILE:
    case WIMLIB_ERR_RESOURCE_NOT_FOUND:
        return ImagingError::Kind::DamagedData;
    case WIMLIB_ERR_OPEN:
    case WIMLIB_ERR_OPENDIR:
    case WIMLIB_ERR_READ:
    case WIMLIB_ERR_WRITE:
    case WIMLIB_ERR_MKDIR:
    case WIMLIB_ERR_LINK:
    case WIMLIB_ERR_SET_TIMESTAMPS:
    case WIMLIB_ERR_SET_ATTRIBUTES:
    case WIMLIB_ERR_SET_SECURITY:
    case WIMLIB_ERR_STAT:
    case WIMLIB_ERR_RENAME:
        return systemErrorKind(systemError);
    default:
        return ImagingError::Kind::Other;
    }
}
