#pragma once

#include "imaging/imaging_library.h"

#include <QByteArray>

// The lock that every Pellwick process takes on an archive's file around a
// call that relies on what the file holds: an open-file-description record
// lock (F_OFD_SETLK) over the whole file, on a descriptor of its own. See
// "Several programs on one archive" in imaging_library.h for why this one.
// Never waits: a lock another process (or another handle) holds is refused at
// once. Released when it goes out of scope; the kernel drops it with the
// process, so a killed process never leaves it behind.
class ArchiveFileLock
{
public:
    enum class Mode { Shared, Exclusive };

    ArchiveFileLock() = default;
    ~ArchiveFileLock() { release(); }
    ArchiveFileLock(const ArchiveFileLock &) = delete;
    ArchiveFileLock &operator=(const ArchiveFileLock &) = delete;

    // Locks the file that `native` names now. A rename may put another file
    // there between our open and our lock: the lock is only kept once the
    // path still names the locked file. A missing file takes no lock and is
    // no failure (the caller finds it gone). Taking Exclusive while Shared is
    // held converts the lock. False and *error (kind InUseElsewhere, or the
    // open's errno) when it cannot be had; `writable` opens for writing,
    // which an exclusive lock needs (a file that cannot be opened so gets a
    // shared lock: it still keeps every writer out). A file system that keeps
    // no record locks takes none, without failing.
    bool take(const QByteArray &native, Mode mode, bool writable, ImagingError *error);
    void release();

private:
    int m_fd = -1;
    Mode m_mode = Mode::Shared;
};
