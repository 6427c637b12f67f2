#pragma once

#include "support/clock.h"

#include <atomic>

// A clock that tests move by hand; a pause moves it at once (after yielding
// the thread briefly, so that polling loops do not spin).
class FakeClock : public Clock
{
public:
    FakeClock();            // installs itself
    ~FakeClock() override;  // restores the system clock

    qint64 wallSeconds() override { return m_wallMs.load() / 1000; }
    qint64 monotonicMs() override { return m_monoMs.load(); }
    void sleepMs(int ms) override;

    void advanceSeconds(qint64 s) { advanceMs(s * 1000); }
    void advanceMs(qint64 ms);
    // Moves only the wall clock (a user changing the system time).
    void setWallSeconds(qint64 s) { m_wallMs.store(s * 1000); }
    qint64 totalSleptMs() const { return m_sleptMs.load(); }

private:
    std::atomic<qint64> m_wallMs{1'700'000'000'000};
    std::atomic<qint64> m_monoMs{1'000'000};
    std::atomic<qint64> m_sleptMs{0};
};
