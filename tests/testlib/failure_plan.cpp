#include "failure_plan.h"

namespace {
// Set on a thread whose last planned call was failed on purpose.
thread_local QString t_injected;
}  // namespace

void FailurePlan::failOn(Call call, int nth)
{
    std::lock_guard lock(m_mutex);
    Rule &rule = m_rules[size_t(call)];
    rule.countdown = qMax(nth, 1);
    rule.always = false;
}

void FailurePlan::failAlways(Call call)
{
    std::lock_guard lock(m_mutex);
    m_rules[size_t(call)].always = true;
}

void FailurePlan::reset(Call call)
{
    std::lock_guard lock(m_mutex);
    Rule &rule = m_rules[size_t(call)];
    rule.countdown = 0;
    rule.always = false;
}

void FailurePlan::resetAll()
{
    for (int i = 0; i < kCallCount; ++i)
        reset(Call(i));
}

void FailurePlan::onCall(Call call, std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_rules[size_t(call)].hook = std::move(hook);
}

int FailurePlan::uses(Call call) const
{
    std::lock_guard lock(m_mutex);
    return m_rules[size_t(call)].uses;
}

int FailurePlan::failures(Call call) const
{
    std::lock_guard lock(m_mutex);
    return m_rules[size_t(call)].failures;
}

const char *FailurePlan::callName(Call call)
{
    static const char *const names[kCallCount] = {
        "WIMCreateFile",
        "WIMCloseHandle",
        "WIMSetTemporaryPath",
        "WIMGetAttributes",
        "WIMLoadImage",
        "WIMGetImageInformation",
        "WIMSetImageInformation",
        "WIMCaptureImage",
        "WIMApplyImage",
        "WIMExportImage",
        "WIMDeleteImage",
        "WIMSetBootImage",
        "WIMRegisterMessageCallback",
        "WIMUnregisterMessageCallback",
        "WIMSplitFile",
        "WIMVerifyFile",
        "WIMOptimizeFile",
        "WIMRefreshFile",
        "WIMUpdateImage",
        "WIMSplitOversizedFiles",
    };
    return names[size_t(call)];
}

bool FailurePlan::shouldFail(Call call)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(m_mutex);
        hook = m_rules[size_t(call)].hook;
    }
    if (hook)
        hook();
    bool failing = false;
    {
        std::lock_guard lock(m_mutex);
        Rule &rule = m_rules[size_t(call)];
        ++rule.uses;
        if (rule.always) {
            failing = true;
        } else if (rule.countdown > 0) {
            failing = --rule.countdown == 0;
        }
        if (failing)
            ++rule.failures;
    }
    t_injected = failing ? QStringLiteral("%1: injected failure").arg(QLatin1String(callName(call))) : QString();
    return failing;
}

QString FailurePlan::injected()
{
    return t_injected;
}

ImagingError FailurePlan::injectedError()
{
    return {ImagingError::Kind::Other, 0, t_injected};
}
