#include "fake_clock.h"

#include <chrono>
#include <thread>

FakeClock::FakeClock()
{
    setAppClock(this);
}

FakeClock::~FakeClock()
{
    setAppClock(nullptr);
}

void FakeClock::sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_sleptMs.fetch_add(ms);
    advanceMs(ms);
}

void FakeClock::advanceMs(qint64 ms)
{
    m_wallMs.fetch_add(ms);
    m_monoMs.fetch_add(ms);
}
