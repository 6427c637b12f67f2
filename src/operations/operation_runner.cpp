#include "operations/operation_runner.h"

#include "imaging/wim_types.h"
#include "operations/lasting_operation.h"
#include "operations/message_callback.h"
#include "operations/operation.h"
#include "support/background_task.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace {

std::atomic<OperationHost *> g_messageHost{nullptr};

}  // namespace

OperationRunner::Claim &OperationRunner::Claim::operator=(Claim &&other) noexcept
{
    if (this != &other) {
        if (m_runner)
            m_runner->release();
        m_runner = std::exchange(other.m_runner, nullptr);
    }
    return *this;
}

OperationRunner::Claim::~Claim()
{
    if (m_runner)
        m_runner->release();
}

OperationRunner::OperationRunner(OperationHost &host) : m_host(host)
{
    setPromptsUnattended(false);
    g_messageHost.store(&host, std::memory_order_release);
}

OperationRunner::~OperationRunner()
{
    waitForRelease();
    OperationHost *self = &m_host;
    g_messageHost.compare_exchange_strong(self, nullptr);
    setPromptsUnattended(false);
}

OperationRunner::Claim OperationRunner::claim()
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Idle)
        return {};
    setState(State::Claimed);
    return Claim(this);
}

void OperationRunner::start(Claim claim, std::function<void()> body)
{
    if (!claim)
        return;
    // From here the worker holds the claim.
    claim.m_runner = nullptr;
    backgroundTasks::start([this, body = std::move(body)] {
        body();
        release();
    });
}

void OperationRunner::start(Claim claim, std::unique_ptr<Operation> operation)
{
    std::shared_ptr<Operation> shared(std::move(operation));
    start(std::move(claim), [this, shared] { run(*shared); });
}

void OperationRunner::run(Operation &operation)
{
    OperationContext ctx(*this);
    m_running.store(&operation, std::memory_order_release);
    operation.run(ctx);
    m_running.store(nullptr, std::memory_order_release);
}

void OperationRunner::release()
{
    std::lock_guard lock(m_mutex);
    setState(m_abort.load() ? State::Closed : State::Idle);
}

void OperationRunner::setState(State state)
{
    m_state = state;
    m_publicState.store(state, std::memory_order_release);
}

bool OperationRunner::isClaimed() const
{
    return m_publicState.load(std::memory_order_acquire) == State::Claimed;
}

bool OperationRunner::acceptsCommands() const
{
    return m_publicState.load(std::memory_order_acquire) == State::Idle;
}

bool OperationRunner::closeIfIdle()
{
    std::lock_guard lock(m_mutex);
    if (m_state == State::Claimed)
        return false;
    setState(State::Closed);
    return true;
}

void OperationRunner::abort()
{
    m_abort.store(true);
    g_nAbort.store(int32_t(WIM_MSG_ABORT_IMAGE));
    setPromptsUnattended(true);
    std::lock_guard lock(m_mutex);
    if (m_state == State::Idle)
        setState(State::Closed);
}

bool OperationRunner::abortRequested() const
{
    return m_abort.load();
}

int32_t OperationRunner::abortAnswer() const
{
    return m_abort.load() ? int32_t(WIM_MSG_ABORT_IMAGE) : 0;
}

void OperationRunner::waitForRelease() const
{
    while (isClaimed()) {
        if (uiThread::isUiThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

void OperationRunner::process(const char16_t *path, int32_t *keep)
{
    if (Operation *operation = m_running.load(std::memory_order_acquire))
        operation->process(path, keep);
}

void OperationRunner::keep(std::shared_ptr<LastingOperation> lasting)
{
    std::lock_guard lock(m_mutex);
    m_lasting.append(std::move(lasting));
}

void OperationRunner::forget(const LastingOperation *lasting)
{
    std::lock_guard lock(m_mutex);
    m_lasting.removeIf([lasting](const std::shared_ptr<LastingOperation> &kept) { return kept.get() == lasting; });
}

QList<std::shared_ptr<LastingOperation>> OperationRunner::lasting() const
{
    std::lock_guard lock(m_mutex);
    return m_lasting;
}

OperationHost *OperationRunner::messageHost()
{
    return g_messageHost.load(std::memory_order_acquire);
}
