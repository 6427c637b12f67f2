#pragma once

#include "failure_plan.h"
#include "forwarding_imaging.h"

#include <mutex>

// A decorator for tests: forwards every call to another ImagingLibrary and
// makes the calls its FailurePlan names fail (calls without a Call value are only forwarded), so that every failure
// path of the program can be driven on real archives.
//
//   WimlibBackend real;
//   FaultInjectingImaging faults(real);
//   ScopedImaging use(&faults);
//   faults.failOn(FaultInjectingImaging::Call::SetImageInformation);      // the next use fails
//   faults.failOn(FaultInjectingImaging::Call::CloseHandle, 2);           // the second use from now fails
//   faults.failAlways(FaultInjectingImaging::Call::RegisterMessageCallback);
//
// A failing call is not forwarded: it returns null, false or
// INVALID_CALLBACK_VALUE and leaves the archive untouched; LastErrorText()
// then names the injected failure on that thread. The one exception is
// WIMCloseHandle: it reports failure but still closes the handle underneath,
// so that tests of that path leak nothing (a second close of it fails).
class FaultInjectingImaging : public ForwardingImaging, public FailurePlan
{
public:
    explicit FaultInjectingImaging(ImagingLibrary &inner);

    // Sends a library message through the callback the program registered
    // last, as the library would (from a hook, say); WIM_MSG_SUCCESS when none is.
    uint32_t sendMessage(uint32_t messageId, uintptr_t wParam, intptr_t lParam);

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
    bool WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags) override;
    bool WIMVerifyFile(HWIM wim, ImagingVerifyResult *result) override;
    bool WIMOptimizeFile(HWIM wim) override;
    // Counted and failed as CaptureImage: the one capture of the program.
    HWIM WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags, const QString &xml,
                                        uint32_t byteCount) override;
    bool WIMRefreshFile(HWIM wim, bool *changed) override;
    bool WIMUpdateImage(HWIM image, const QList<ImagingUpdate> &updates) override;
    bool WIMSplitOversizedFiles(HWIM wim, uint64_t partSize, QList<ImagingOversizedFile> *files) override;
    QString LastErrorText() const override;
    ImagingError LastError() const override;

private:
    std::mutex m_callbackMutex;
    WIMMessageCallback m_callback = nullptr;
    void *m_userData = nullptr;
};
