#pragma once

#include "imaging/wimlib_archive.h"

#include <QByteArray>

#include <mutex>

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
    // which an exclusive lock needs.
    bool take(const QByteArray &native, Mode mode, bool writable, ImagingError *error);
    void release();

private:
    int m_fd = -1;
    Mode m_mode = Mode::Shared;
};

// Takes the work locks of one or two archives (the same archive once) without
// waiting: an archive busy with another call (on another thread, or the very
// call whose callback is asking) is refused at once instead of deadlocking.
// It also carries each archive's file lock (see readyForCall).
class WorkLock
{
public:
    explicit WorkLock(WimlibArchive &a) : m_a(a.work(), std::try_to_lock) {}
    WorkLock(WimlibArchive &a, WimlibArchive &b) : m_a(a.work(), std::defer_lock), m_b(b.work(), std::defer_lock)
    {
        if (&a == &b) {
            m_b.release();
            m_a.try_lock();
        } else
            std::try_lock(m_a, m_b);
    }
    bool owns() const { return m_a.owns_lock() && (!m_b.mutex() || m_b.owns_lock()); }
    void unlock()
    {
        m_fileA.release();
        m_fileB.release();
        if (m_b.owns_lock())
            m_b.unlock();
        m_a.unlock();
    }
    // The file lock that goes with `archive`'s work lock.
    ArchiveFileLock &fileLockOf(WimlibArchive &archive)
    {
        return m_b.mutex() == &archive.work() ? m_fileB : m_fileA;
    }

private:
    std::unique_lock<std::mutex> m_a;
    std::unique_lock<std::mutex> m_b;
    // Declared after the work locks: released before them.
    ArchiveFileLock m_fileA;
    ArchiveFileLock m_fileB;
};

// What a call does with the archive: reads it, or changes it.
enum class ArchiveUse { Read, Change };

// What every call that uses wim() checks once it holds the work lock: that it
// got it (else the calling thread's last failure is Busy); that no other
// process is using the file the other way (the file lock, shared to read,
// exclusive to change: else InUseElsewhere); and that the archive is read and
// still what the handle last read (else ChangedOnDisk, the archive read again
// so that the handle shows it as it is now, or why it cannot be read).
// `call` names the call in the text.
bool readyForCall(WimlibArchive &archive, WorkLock &lock, const char *call, ArchiveUse use);
