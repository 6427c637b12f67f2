#include "support/clock.h"

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

class SystemClock : public Clock
{
public:
    qint64 wallSeconds() override { return QDateTime::currentSecsSinceEpoch(); }
    qint64 monotonicMs() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

std::atomic<Clock *> g_clock{nullptr};

}  // namespace

Clock &appClock()
{
    if (Clock *c = g_clock.load(std::memory_order_acquire))
        return *c;
    static SystemClock system;
    return system;
}

void setAppClock(Clock *clock)
{
    g_clock.store(clock, std::memory_order_release);
}
