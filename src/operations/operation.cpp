#include "operations/operation.h"

#include "imaging/imaging_library.h"
#include "operations/message_callback.h"
#include "operations/operation_host.h"
#include "operations/operation_runner.h"
#include "operations/operations_log.h"
#include "support/clock.h"
#include "support/failure_report.h"
#include "support/ui_thread.h"

OperationHost &OperationContext::host() const
{
    return m_runner.host();
}

int OperationContext::message(const QString &text, const QString &caption, uint32_t type, const QString &detail) const
{
    return uiThread::messageBox(host().PromptOwner(), text, caption, type, detail);
}

int OperationContext::failure(const QString &text, const QString &caption, const ImagingError &error,
                              const QString &more) const
{
    return reportFailure(lcOperations, host().PromptOwner(), text, caption, error, more);
}

int OperationContext::failure(const QString &text, const QString &caption, const QString &cause) const
{
    return reportFailure(lcOperations, host().PromptOwner(), text, caption, cause);
}

bool OperationContext::registerCallback()
{
    if (m_registered)
        return true;
    m_registered = imaging().WIMRegisterMessageCallback(nullptr, WimMessageCallback, nullptr) != INVALID_CALLBACK_VALUE;
    return m_registered;
}

bool OperationContext::unregisterCallback()
{
    if (!m_registered)
        return true;
    if (!imaging().WIMUnregisterMessageCallback(nullptr, WimMessageCallback))
        return false;
    m_registered = false;
    return true;
}

bool OperationContext::aborted() const
{
    return m_runner.abortRequested();
}

void Operation::process(const char16_t *, int32_t *) {}

void LongOperation::run(OperationContext &ctx)
{
    OperationHost &host = ctx.host();
    if (!prepare(ctx) || ctx.aborted())
        return;

    const bool busyFirst = m_profile.busyBeforeRegistering;
    if (busyFirst) {
        host.BeginBusy();
        busyStarted(ctx);
    }
    if (m_profile.clearsLog)
        uiThread::run([&host] { host.ClearLog(); });
    beforeRegistering(ctx);
    if (!ctx.registerCallback()) {
        if (busyFirst)
            host.EndBusy();
        registrationFailed(ctx);
        return;
    }
    if (!busyFirst) {
        host.BeginBusy();
        busyStarted(ctx);
    }

    if (!work(ctx)) {
        ctx.unregisterCallback();
        return;
    }
    if (!ctx.unregisterCallback()) {
        const ImagingError why = imaging().LastError();
        switch (m_profile.unregisterFailure) {
        case UnregisterFailure::EndsRun:
            host.HideBusyNow();
            ctx.failure(QStringLiteral("吊销出错！"), QStringLiteral("错误提示"), why);
            return;
        case UnregisterFailure::Reported:
            host.EndBusy();
            ctx.failure(QStringLiteral("吊销出错！"), QStringLiteral("错误提示"), why);
            break;
        case UnregisterFailure::Ignored: break;
        }
    }
    if (m_profile.pausesBeforeEnd)
        appClock().sleepMs(500);
    host.EndBusy();
    finishing(ctx);
    if (m_profile.reportsFinished)
        host.ReportFinished();
    if (m_profile.showsLog)
        host.ShowLog();
}
