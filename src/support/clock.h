#pragma once

#include <QtGlobal>

// Every reading of the time and every pause goes through this seam, so that
// durations and estimates can be tested exactly.
class Clock
{
public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 UTC.
    virtual qint64 wallSeconds() = 0;
    // Milliseconds of a clock that never goes back; for elapsed times.
    virtual qint64 monotonicMs() = 0;
    virtual void sleepMs(int ms) = 0;
};

Clock &appClock();
// Installs a replacement (the caller keeps ownership); nullptr restores the system clock.
void setAppClock(Clock *clock);
