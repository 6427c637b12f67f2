#pragma once

#include "forwarding_imaging.h"
#include "operations/drive_format.h"

#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <mutex>

// Holds a long operation at a chosen phase until the test lets it go, so that
// a test can act while the operation is really there: the library's thread is
// stopped inside the library's own message (scan, write, extraction), or the
// worker is stopped before a command of the format chain runs. One hold per
// object; the destructor lets a held operation go, also when a test fails.
//
// As an imaging decorator it stands between the program and the library: the
// program's callback is registered with the library through it.
class HeldOperation : public ForwardingImaging
{
public:
    enum class Phase {
        CaptureScan,    // the first path below the capture folder the library offers
        CaptureWrite,   // the first progress of a capture's write
        Apply,          // the first progress of an extraction
        FormatCommand,  // before format command `formatCommand` (0: unmount, 1: mkntfs, 2: mount)
        ArchiveFile,    // the first progress of a split, verify or optimize
    };

    HeldOperation(ImagingLibrary &inner, Phase phase, int formatCommand = 1);
    ~HeldOperation() override;

    // Runs the real commands (or `inner`), writes every command line down,
    // and holds before the chosen one.
    FormatCommandRunner formatRunner(FormatCommandRunner inner = {});
    QStringList formatLines() const;

    // Waits, keeping the UI thread serving, until the operation is held.
    bool waitUntilHeld(int timeoutMs = 60000) const;
    bool held() const { return m_held.load(); }
    void release();

    uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) override;
    bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) override;
    HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) override;
    HWIM WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags, const QString &xml,
                                        uint32_t byteCount) override;
    bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) override;
    // Held as an apply is (Phase::Apply).
    bool WIMExtractImagePaths(HWIM image, const QStringList &paths, const QString &destination) override;
    bool WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags) override;
    bool WIMVerifyFile(HWIM wim, ImagingVerifyResult *result) override;
    bool WIMOptimizeFile(HWIM wim) override;

private:
    enum class Call { None, Capture, Apply, ArchiveFile };

    static uint32_t relay(uint32_t messageId, uintptr_t wParam, intptr_t lParam, void *self);
    void holdHere();

    const Phase m_phase;
    const int m_formatCommand;
    std::atomic<Call> m_call{Call::None};
    QString m_callPath;
    std::atomic<WIMMessageCallback> m_callback{nullptr};
    std::atomic<void *> m_userData{nullptr};
    std::atomic<bool> m_held{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_used = false;
    bool m_released = false;
    QStringList m_formatLines;
};
