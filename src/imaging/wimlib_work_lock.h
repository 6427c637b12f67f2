#pragma once

#include "imaging/archive_file_lock.h"
#include "imaging/wimlib_archive.h"

#include <mutex>

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
    ArchiveFileLock &fileLockOf(WimlibArchive &archive) { return m_b.mutex() == &archive.work() ? m_fileB : m_fileA; }

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
