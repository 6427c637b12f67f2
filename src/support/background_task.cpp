#include "support/background_task.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThreadPool>

namespace backgroundTasks {

namespace {

QThreadPool &pool()
{
    static QThreadPool *p = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(16);
        created->setExpiryTimeout(30000);
        return created;
    }();
    return *p;
}

}  // namespace

void start(std::function<void()> body)
{
    pool().start(std::move(body));
}

bool waitForAll(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!pool().waitForDone(10)) {
        if (deadline.hasExpired())
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

int activeCount()
{
    return pool().activeThreadCount();
}

}  // namespace backgroundTasks
