#pragma once

#include "imaging/wimlib_archive.h"

#include <mutex>

// Takes the work locks of one or two archives (the same archive once) without
// waiting: an archive busy with another call (on another thread, or the very
// call whose callback is asking) is refused at once instead of deadlocking.
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
        if (m_b.owns_lock())
            m_b.unlock();
        m_a.unlock();
    }

private:
    std::unique_lock<std::mutex> m_a;
    std::unique_lock<std::mutex> m_b;
};

// What every call that uses wim() checks once it holds the lock: that it got
// the lock (else the calling thread's last failure is Busy), and that the
// archive is read and current (else why not). `call` names the call in the text.
bool readyForCall(WimlibArchive &archive, const WorkLock &lock, const char *call);
