#include "fault_injecting_imaging.h"

FaultInjectingImaging::FaultInjectingImaging(ImagingLibrary &inner) : ForwardingImaging(inner) {}

uint32_t FaultInjectingImaging::sendMessage(uint32_t messageId, uintptr_t wParam, intptr_t lParam)
{
    WIMMessageCallback callback;
    void *userData;
    {
        std::lock_guard lock(m_callbackMutex);
        callback = m_callback;
        userData = m_userData;
    }
    return callback ? callback(messageId, wParam, lParam, userData) : WIM_MSG_SUCCESS;
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
    {
        std::lock_guard lock(m_callbackMutex);
        m_callback = callback;
        m_userData = userData;
    }
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
    return injected().isEmpty() ? inner().LastErrorText() : injected();
}

ImagingError FaultInjectingImaging::LastError() const
{
    return injected().isEmpty() ? inner().LastError() : injectedError();
}
