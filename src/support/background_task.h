#pragma once

#include <functional>

// The program's own pool for background operations, close requests and
// edition detection. It has room for every task that may run at once, so a
// close request or a detection waiting beside a running operation never
// starves it. Tasks are started and dropped: nothing waits for one, except
// the program's exit.
namespace backgroundTasks {

void start(std::function<void()> body);

// Waits at most `timeoutMs` (a negative value: as long as it takes) for every
// task to end, keeping the calling thread's events flowing so that a task's
// hand-overs are answered. Returns true when all ended.
bool waitForAll(int timeoutMs);

int activeCount();

}  // namespace backgroundTasks
