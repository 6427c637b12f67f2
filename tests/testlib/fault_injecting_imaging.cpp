#include "fault_injecting_imaging.h"

namespace {
// Set on a thread whose last call through the decorator was failed on purpose.
thread_local QString t_injected;
}  // namespace

FaultInjectingImaging::FaultInjectingImaging(ImagingLibrary &inner) : ForwardingImaging(inner) {}

void FaultInjectingImaging::failOn(Call call, int nth)
{
    std::lock_guard lock(m_mutex);
    Rule &rule = m_rules[size_t(call)];
    rule.countdown = qMax(nth, 1);
    rule.always = false;
}

void FaultInjectingImaging::failAlways(Call call)
{
    std::lock_guard lock(m_mutex);
    m_rules[size_t(call)].always = true;
}

void FaultInjectingImaging::reset(Call call)
{
    std::lock_guard lock(m_mutex);
    Rule &rule = m_rules[size_t(call)];
    rule.countdown = 0;
    rule.always = false;
}

void FaultInjectingImaging::resetAll()
{
    for (int i = 0; i < kCallCount; ++i)
        reset(Call(i));
}

int FaultInjectingImaging::uses(Call call) const
{
    std::lock_guard lock(m_mutex);
    return m_rules[size_t(call)].uses;
}

int FaultInjectingImaging::failures(Call call) const
{
    std::lock_guard lock(m_mutex);
    return m_rules[size_t(call)].failures;
}

const char *FaultInjectingImaging::callName(Call call)
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

bool FaultInjectingImaging::shouldFail(Call call)
{
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

HWIM FaultInjectingImaging::WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                                          uint32_t flagsAndAttributes, uint32_t compressionType,
                                          uint32_t *creationResult)
{
    if (shouldFail(Call::CreateFile))
        return nullptr;
    return inner().WIMCreateFile(path, desiredAccess, creationDisposition, flagsAndAttributes, compressionType,
                                 creationResult);
}

bool FaultInjectingImaging::WIMCloseHandle(HWIM handle)
{
    if (shouldFail(Call::CloseHandle)) {
        inner().WIMCloseHandle(handle);
        return false;
    }
    return inner().WIMCloseHandle(handle);
}

bool FaultInjectingImaging::WIMSetTemporaryPath(HWIM wim, const QString &path)
{
    return !shouldFail(Call::SetTemporaryPath) && inner().WIMSetTemporaryPath(wim, path);
}

bool FaultInjectingImaging::WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo)
{
    return !shouldFail(Call::GetAttributes) && inner().WIMGetAttributes(wim, info, cbInfo);
}

HWIM FaultInjectingImaging::WIMLoadImage(HWIM wim, uint32_t index)
{
    return shouldFail(Call::LoadImage) ? nullptr : inner().WIMLoadImage(wim, index);
}

bool FaultInjectingImaging::WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount)
{
    return !shouldFail(Call::GetImageInformation) && inner().WIMGetImageInformation(image, xml, byteCount);
}

bool FaultInjectingImaging::WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount)
{
    return !shouldFail(Call::SetImageInformation) && inner().WIMSetImageInformation(image, xml, byteCount);
}

HWIM FaultInjectingImaging::WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags)
{
    return shouldFail(Call::CaptureImage) ? nullptr : inner().WIMCaptureImage(wim, path, captureFlags);
}

bool FaultInjectingImaging::WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags)
{
    return !shouldFail(Call::ApplyImage) && inner().WIMApplyImage(image, path, applyFlags);
}

bool FaultInjectingImaging::WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags)
{
    return !shouldFail(Call::ExportImage) && inner().WIMExportImage(image, destinationWim, exportFlags);
}

bool FaultInjectingImaging::WIMDeleteImage(HWIM wim, uint32_t index)
{
    return !shouldFail(Call::DeleteImage) && inner().WIMDeleteImage(wim, index);
}

bool FaultInjectingImaging::WIMSetBootImage(HWIM wim, uint32_t index)
{
    return !shouldFail(Call::SetBootImage) && inner().WIMSetBootImage(wim, index);
}

uint32_t FaultInjectingImaging::WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData)
{
    if (shouldFail(Call::RegisterMessageCallback))
        return INVALID_CALLBACK_VALUE;
    return inner().WIMRegisterMessageCallback(wim, callback, userData);
}

bool FaultInjectingImaging::WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback)
{
    return !shouldFail(Call::UnregisterMessageCallback) && inner().WIMUnregisterMessageCallback(wim, callback);
}

bool FaultInjectingImaging::WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags)
{
    return !shouldFail(Call::SplitFile) && inner().WIMSplitFile(wim, firstPart, partSize, flags);
}

bool FaultInjectingImaging::WIMVerifyFile(HWIM wim, ImagingVerifyResult *result)
{
    return !shouldFail(Call::VerifyFile) && inner().WIMVerifyFile(wim, result);
}

bool FaultInjectingImaging::WIMSplitOversizedFiles(HWIM wim, uint64_t partSize, QList<ImagingOversizedFile> *files)
{
    return !shouldFail(Call::SplitOversizedFiles) && inner().WIMSplitOversizedFiles(wim, partSize, files);
}

bool FaultInjectingImaging::WIMOptimizeFile(HWIM wim)
{
    return !shouldFail(Call::OptimizeFile) && inner().WIMOptimizeFile(wim);
}

HWIM FaultInjectingImaging::WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags,
                                                           const QString &xml, uint32_t byteCount)
{
    return shouldFail(Call::CaptureImage)
               ? nullptr
               : inner().WIMCaptureImageWithInformation(wim, path, captureFlags, xml, byteCount);
}

bool FaultInjectingImaging::WIMRefreshFile(HWIM wim, bool *changed)
{
    return !shouldFail(Call::RefreshFile) && inner().WIMRefreshFile(wim, changed);
}

bool FaultInjectingImaging::WIMUpdateImage(HWIM image, const QList<ImagingUpdate> &updates)
{
    return !shouldFail(Call::UpdateImage) && inner().WIMUpdateImage(image, updates);
}

QString FaultInjectingImaging::LastErrorText() const
{
    return t_injected.isEmpty() ? inner().LastErrorText() : t_injected;
}

ImagingError FaultInjectingImaging::LastError() const
{
    if (t_injected.isEmpty())
        return inner().LastError();
    return {ImagingError::Kind::Other, 0, t_injected};
}
