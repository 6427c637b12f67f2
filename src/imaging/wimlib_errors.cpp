#include "imaging/wimlib_errors.h"

#include <wimlib.h>

#include <cerrno>

using Kind = ImagingError::Kind;

Kind systemErrorKind(int systemError)
{
    switch (systemError) {
    case ENOENT:
    case ENOTDIR: return Kind::NotFound;
    case EACCES:
    case EPERM: return Kind::AccessDenied;
    case EROFS: return Kind::ReadOnlyFileSystem;
    case ENOSPC:
    case EDQUOT: return Kind::NoSpace;
    case ENAMETOOLONG: return Kind::PathTooLong;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: return Kind::Busy;
    default: return Kind::Other;
    }
}

namespace {

bool isFileError(int code)
{
    switch (code) {
    case WIMLIB_ERR_OPEN:
    case WIMLIB_ERR_OPENDIR:
    case WIMLIB_ERR_READ:
    case WIMLIB_ERR_WRITE:
    case WIMLIB_ERR_RENAME:
    case WIMLIB_ERR_MKDIR:
    case WIMLIB_ERR_MKNOD:
    case WIMLIB_ERR_LINK:
    case WIMLIB_ERR_STAT:
    case WIMLIB_ERR_READLINK:
    case WIMLIB_ERR_SET_ATTRIBUTES:
    case WIMLIB_ERR_SET_TIMESTAMPS:
    case WIMLIB_ERR_SET_SECURITY:
    case WIMLIB_ERR_SET_REPARSE_DATA:
    case WIMLIB_ERR_SET_SHORT_NAME:
    case WIMLIB_ERR_SET_XATTR:
    case WIMLIB_ERR_NOTEMPTY:
    case WIMLIB_ERR_INSUFFICIENT_PRIVILEGES: return true;
    default: return false;
    }
}

}  // namespace

int wimlibSystemError(int code, int systemError)
{
    return isFileError(code) ? systemError : 0;
}

Kind wimlibErrorKind(int code, int systemError)
{
    if (isFileError(code)) {
        // What the system said decides.
        if (const Kind kind = systemErrorKind(systemError); kind != Kind::Other)
            return kind;
        return code == WIMLIB_ERR_INSUFFICIENT_PRIVILEGES ? Kind::AccessDenied : Kind::Other;
    }
    switch (code) {
    case WIMLIB_ERR_SUCCESS: return Kind::None;
    case WIMLIB_ERR_PATH_DOES_NOT_EXIST:
    case WIMLIB_ERR_NOTDIR: return Kind::NotFound;
    case WIMLIB_ERR_NOT_A_WIM_FILE:
    case WIMLIB_ERR_UNKNOWN_VERSION:
    case WIMLIB_ERR_IS_DIRECTORY:
    case WIMLIB_ERR_NOT_A_REGULAR_FILE:
    case WIMLIB_ERR_INVALID_PIPABLE_WIM: return Kind::NotAnArchive;
    case WIMLIB_ERR_INVALID_HEADER:
    case WIMLIB_ERR_INVALID_CHUNK_SIZE:
    case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
    case WIMLIB_ERR_INVALID_LOOKUP_TABLE_ENTRY:
    case WIMLIB_ERR_INVALID_INTEGRITY_TABLE:
    case WIMLIB_ERR_INVALID_PART_NUMBER:
    case WIMLIB_ERR_IMAGE_COUNT:
    case WIMLIB_ERR_XML:
    case WIMLIB_ERR_UNEXPECTED_END_OF_FILE:
    case WIMLIB_ERR_METADATA_NOT_FOUND:
    case WIMLIB_ERR_WIM_IS_INCOMPLETE: return Kind::DamagedHeader;
    case WIMLIB_ERR_DECOMPRESSION:
    case WIMLIB_ERR_INVALID_RESOURCE_HASH:
    case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
    case WIMLIB_ERR_INVALID_REPARSE_DATA:
    case WIMLIB_ERR_RESOURCE_NOT_FOUND:
    case WIMLIB_ERR_INTEGRITY:
    case WIMLIB_ERR_INVALID_UTF16_STRING:
    case WIMLIB_ERR_INVALID_XATTR: return Kind::DamagedData;
    case WIMLIB_ERR_IMAGE_NAME_COLLISION: return Kind::NameInUse;
    case WIMLIB_ERR_WIM_IS_READONLY: return Kind::AccessDenied;
    case WIMLIB_ERR_ALREADY_LOCKED:
    case WIMLIB_ERR_MOUNTED_IMAGE_IS_BUSY:
    case WIMLIB_ERR_CONCURRENT_MODIFICATION_DETECTED: return Kind::Busy;
    case WIMLIB_ERR_ABORTED_BY_PROGRESS: return Kind::Aborted;
    default: return Kind::Other;
    }
}
