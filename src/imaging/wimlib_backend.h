#pragma once

#include "imaging/imaging_library.h"

// The imaging library over wimlib (placeholder until the backend lands: every call fails).
class WimlibBackend : public ImagingLibrary
{
public:
    WimlibBackend();
    ~WimlibBackend() override;

    HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) override;
    bool WIMCloseHandle(HWIM handle) override;
    bool WIMSetTemporaryPath(HWIM wim, const QString &path) override;
    bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) override;
    HWIM WIMLoadImage(HWIM wim, uint32_t index) override;
    bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) override;
    bool WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount) override;
    HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) override;
    bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) override;
    bool WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags) override;
    bool WIMDeleteImage(HWIM wim, uint32_t index) override;
    bool WIMSetBootImage(HWIM wim, uint32_t index) override;
    uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) override;
    bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) override;
    QString LastErrorText() const override;
};
