#pragma once

#include "imaging/wim_types.h"

#include <QString>

// Why the calling thread's last call failed, in terms that do not depend on
// the library behind the boundary: the window turns it into a cause beneath
// its own message, the log and the command-line driver print `text`.
struct ImagingError {
    enum class Kind {
        None,                   // the last call succeeded, or nothing is known
        NotFound,               // a file or folder named in the call does not exist
        AccessDenied,           // permission denied
        ReadOnlyFileSystem,     // the file system is mounted read-only
        NoSpace,                // no space left on the device
        NotAnArchive,           // the file is not an imaging archive
        DamagedHeader,          // the archive's header or tables are damaged
        DamagedData,            // checksum mismatch or data that cannot be decompressed
        NameInUse,              // another image of the archive has that name
        PathTooLong,            // a path or name is too long
        WouldOverwriteArchive,  // the call would write over the archive it reads from
        Busy,                   // the archive or device is busy with another call
        Aborted,                // stopped by the callback's answer
        Unsupported,            // this backend does not offer the call
        Other,
    };
    Kind kind = Kind::None;
    int systemError = 0;  // errno of the failing system call, 0 when none is known
    QString text;         // the library's own words, with the call and the path
};

// The imaging boundary: every call the program makes into the imaging library,
// one member per library call with its name and arguments. Indices are
// 1-based; a null handle or false means failure (LastErrorText() says why,
// for the calling thread's last failed call).
//
// Threads: every call may be made from any thread; a handle is used by one
// thread at a time. Registered callbacks run on the thread that makes the
// long call (capture, apply, export) while it is in progress.
//
// Ownership: handles belong to the caller until WIMCloseHandle; archive and
// image handles may be closed in any order (an image keeps its archive alive).
class ImagingLibrary
{
public:
    virtual ~ImagingLibrary() = default;

    // Opens or creates an archive. desiredAccess: WIM_GENERIC_READ_WRITE,
    // WIM_GENERIC_READ or 0 (query only). disposition: WIM_OPEN_EXISTING,
    // WIM_CREATE_ALWAYS (a valid empty archive is on disk when this returns) or
    // WIM_OPEN_ALWAYS (opened when it exists, else created). creationResult,
    // when given, receives WIM_CREATED_NEW or WIM_OPENED_EXISTING. A file that
    // cannot be opened as an archive gives null and is left untouched.
    virtual HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                               uint32_t flagsAndAttributes, uint32_t compressionType,
                               uint32_t *creationResult) = 0;

    virtual bool WIMCloseHandle(HWIM handle) = 0;

    // Directory for the library's temporary files; must exist and be writable.
    virtual bool WIMSetTemporaryPath(HWIM wim, const QString &path) = 0;

    // Fills ImageCount, CompressionType and BootIndex (and WimPath) of info;
    // cbInfo must be at least sizeof(WIM_INFO).
    virtual bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) = 0;

    // Image `index` (1..ImageCount) of an archive; null outside that range.
    virtual HWIM WIMLoadImage(HWIM wim, uint32_t index) = 0;

    // The image's metadata XML: its own <IMAGE INDEX="n">...</IMAGE> element as
    // UTF-16 text beginning with a byte-order mark (U+FEFF), current after every
    // change. byteCount, when given, receives the text's size in bytes.
    virtual bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) = 0;

    // Stores the NAME, DESCRIPTION, FLAGS, DISPLAYNAME and DISPLAYDESCRIPTION of
    // the given <IMAGE> element and commits. Malformed XML, a name another image
    // holds, or a read-only archive is refused and nothing changes.
    virtual bool WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount) = 0;

    // Appends an image of the folder `path` and commits; returns the new image.
    // Sends WIM_MSG_PROCESS for every file and folder (a cleared keep flag
    // leaves it out; the answer WIM_MSG_ABORT_IMAGE stops the call, which fails
    // and leaves the archive as it was) and WIM_MSG_PROGRESS percentages.
    virtual HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) = 0;

    // Extracts the image into the folder `path`, with progress messages.
    // Refused (WouldOverwriteArchive) before anything is written when the
    // image holds an entry where the archive it is read from lies.
    virtual bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) = 0;

    // Copies the image into the destination archive and commits it.
    virtual bool WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags) = 0;

    virtual bool WIMDeleteImage(HWIM wim, uint32_t index) = 0;
    virtual bool WIMSetBootImage(HWIM wim, uint32_t index) = 0;

    // Process-wide registration (wim must be null). Returns the callback's
    // index, or INVALID_CALLBACK_VALUE.
    virtual uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) = 0;
    virtual bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) = 0;

    // Text of the calling thread's last failure, for logs and the command-line driver.
    virtual QString LastErrorText() const = 0;

    // The calling thread's last failure with its kind and system error number.
    // The default knows only the text.
    virtual ImagingError LastError() const
    {
        return {ImagingError::Kind::Other, 0, LastErrorText()};
    }

    // ---- Extensions beyond the platform library's calls ----
    // What the Windows imaging library does not offer (browsing and extracting,
    // split sets, verify, optimize, ...); a wimgapi backend would serve them
    // another way. Each is a virtual with a default body here that fails, so
    // that test doubles need not implement it; WimlibBackend serves it and
    // ForwardingImaging forwards it.
};

// The process-wide instance. The wimlib backend unless replaced.
ImagingLibrary &imaging();

// Replaces the process-wide instance (tests); nullptr restores the default.
// The caller keeps ownership and keeps it alive while it is installed.
void setImaging(ImagingLibrary *library);

// Installs a replacement for the lifetime of a scope.
class ScopedImaging
{
public:
    explicit ScopedImaging(ImagingLibrary *library) { setImaging(library); }
    ~ScopedImaging() { setImaging(nullptr); }
    ScopedImaging(const ScopedImaging &) = delete;
    ScopedImaging &operator=(const ScopedImaging &) = delete;
};
