#include "held_operation.h"

#include "imaging/wim_types.h"

#include <QTest>

HeldOperation::HeldOperation(ImagingLibrary &inner, Phase phase, int formatCommand)
    : ForwardingImaging(inner), m_phase(phase), m_formatCommand(formatCommand)
{}

HeldOperation::~HeldOperation()
{
    release();
}

void HeldOperation::holdHere()
{
    std::unique_lock lock(m_mutex);
    if (m_used)
        return;
    m_used = true;
    m_held = true;
    m_wake.wait(lock, [this] { return m_released; });
    m_held = false;
}

void HeldOperation::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_wake.notify_all();
}

bool HeldOperation::waitUntilHeld(int timeoutMs) const
{
    return QTest::qWaitFor([this] { return m_held.load(); }, timeoutMs);
}

FormatCommandRunner HeldOperation::formatRunner(FormatCommandRunner inner)
{
    if (!inner)
        inner = [](const QString &line) { return RunCommandWithStatus(line); };
    return [this, inner](const QString &line) {
        int index;
        {
            std::lock_guard lock(m_mutex);
            index = int(m_formatLines.size());
            m_formatLines << line;
        }
        if (m_phase == Phase::FormatCommand && index == m_formatCommand)
            holdHere();
        return inner(line);
    };
}

QStringList HeldOperation::formatLines() const
{
    std::lock_guard lock(m_mutex);
    return m_formatLines;
}

uint32_t HeldOperation::relay(uint32_t messageId, uintptr_t wParam, intptr_t lParam, void *context)
{
    auto *self = static_cast<HeldOperation *>(context);
    const Call call = self->m_call.load();
    const bool scanHold = self->m_phase == Phase::CaptureScan && call == Call::Capture && messageId == WIM_MSG_PROCESS
                          && wParam && QStringView(reinterpret_cast<const char16_t *>(wParam)) != self->m_callPath;
    const bool progressHold = messageId == WIM_MSG_PROGRESS
                              && ((self->m_phase == Phase::CaptureWrite && call == Call::Capture)
                                  || (self->m_phase == Phase::Apply && call == Call::Apply)
                                  || (self->m_phase == Phase::ArchiveFile && call == Call::ArchiveFile));
    if (scanHold || progressHold)
        self->holdHere();
    const WIMMessageCallback callback = self->m_callback.load();
    return callback ? callback(messageId, wParam, lParam, self->m_userData.load()) : WIM_MSG_SUCCESS;
}

uint32_t HeldOperation::WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData)
{
    m_callback = callback;
    m_userData = userData;
    return ForwardingImaging::WIMRegisterMessageCallback(wim, &HeldOperation::relay, this);
}

bool HeldOperation::WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback)
{
    m_callback = nullptr;
    return ForwardingImaging::WIMUnregisterMessageCallback(wim, &HeldOperation::relay);
}

HWIM HeldOperation::WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags)
{
    m_callPath = path;
    m_call = Call::Capture;
    HWIM image = ForwardingImaging::WIMCaptureImage(wim, path, captureFlags);
    m_call = Call::None;
    return image;
}

HWIM HeldOperation::WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags,
                                                   const QString &xml, uint32_t byteCount)
{
    m_callPath = path;
    m_call = Call::Capture;
    HWIM image = ForwardingImaging::WIMCaptureImageWithInformation(wim, path, captureFlags, xml, byteCount);
    m_call = Call::None;
    return image;
}

bool HeldOperation::WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags)
{
    m_callPath = path;
    m_call = Call::Apply;
    const bool applied = ForwardingImaging::WIMApplyImage(image, path, applyFlags);
    m_call = Call::None;
    return applied;
}

bool HeldOperation::WIMExtractImagePaths(HWIM image, const QStringList &paths, const QString &destination)
{
    m_callPath = destination;
    m_call = Call::Apply;
    const bool extracted = ForwardingImaging::WIMExtractImagePaths(image, paths, destination);
    m_call = Call::None;
    return extracted;
}

bool HeldOperation::WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags)
{
    m_call = Call::ArchiveFile;
    const bool split = ForwardingImaging::WIMSplitFile(wim, firstPart, partSize, flags);
    m_call = Call::None;
    return split;
}

bool HeldOperation::WIMVerifyFile(HWIM wim, ImagingVerifyResult *result)
{
    m_call = Call::ArchiveFile;
    const bool verified = ForwardingImaging::WIMVerifyFile(wim, result);
    m_call = Call::None;
    return verified;
}

bool HeldOperation::WIMOptimizeFile(HWIM wim)
{
    m_call = Call::ArchiveFile;
    const bool optimized = ForwardingImaging::WIMOptimizeFile(wim);
    m_call = Call::None;
    return optimized;
}
