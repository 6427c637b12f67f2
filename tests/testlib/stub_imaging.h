#pragma once

#include "imaging/imaging_library.h"

#include <atomic>

// An imaging library where every call fails (or, for callbacks, succeeds and
// does nothing); tests override the calls they need.
class StubImaging : public ImagingLibrary
{
public:
    HWIM WIMCreateFile(const QString &, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t *) override { return nullptr; }
    bool WIMCloseHandle(HWIM) override
    {
        ++closed;
        return true;
    }
    bool WIMSetTemporaryPath(HWIM, const QString &) override { return true; }
    bool WIMGetAttributes(HWIM, WIM_INFO *, uint32_t) override { return false; }
    HWIM WIMLoadImage(HWIM, uint32_t) override { return nullptr; }
    bool WIMGetImageInformation(HWIM, QString *, uint32_t *) override { return false; }
    bool WIMSetImageInformation(HWIM, const QString &, uint32_t) override { return false; }
    HWIM WIMCaptureImage(HWIM, const QString &, uint32_t) override { return nullptr; }
    bool WIMApplyImage(HWIM, const QString &, uint32_t) override { return false; }
    bool WIMExportImage(HWIM, HWIM, uint32_t) override { return false; }
    bool WIMDeleteImage(HWIM, uint32_t) override { return false; }
    bool WIMSetBootImage(HWIM, uint32_t) override { return false; }
    uint32_t WIMRegisterMessageCallback(HWIM, WIMMessageCallback, void *) override
    {
        ++registered;
        return 0;
    }
    bool WIMUnregisterMessageCallback(HWIM, WIMMessageCallback) override
    {
        ++unregistered;
        return true;
    }
    QString LastErrorText() const override { return {}; }

    // A distinct non-null handle for tests that need "an archive is open".
    static HWIM fakeHandle(int n = 0)
    {
        static char tokens[16];
        return reinterpret_cast<HWIM>(&tokens[n]);
    }

    std::atomic<int> closed{0};
    std::atomic<int> registered{0};
    std::atomic<int> unregistered{0};
};
