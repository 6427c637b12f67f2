#pragma once

#include <QString>

// Why the calling thread's last call through the imaging boundary failed, in
// terms that do not depend on the library behind it: the window turns it into
// a cause beneath its own message, the log and the command-line driver print
// `text`. It sits below the boundary so that the wording of causes and the
// reporting of failures need not know the boundary.
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
        ArchiveReadOnly,        // the archive's handle was opened without write access
        Busy,                   // the archive or device is busy with another call
        InUseElsewhere,         // another program (process) holds the archive's lock
        ChangedOnDisk,          // another program changed the archive since the handle read it
        Aborted,                // stopped by the callback's answer
        Unsupported,            // this backend does not offer the call
        Other,
    };
    Kind kind = Kind::None;
    int systemError = 0;  // errno of the failing system call, 0 when none is known
    QString text;         // the library's own words, with the call and the path
};
