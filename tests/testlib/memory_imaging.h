#pragma once

#include "failure_plan.h"
#include "imaging/imaging_library.h"

#include <QMap>
#include <QSet>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

// The tests' one imaging library without files: archives held in memory. It
// records every call with its arguments, hands out real handles whose lifetime
// it checks, and fails the calls its FailurePlan names. Calls it does not model
// (captures, applies, changes, the extensions) fail with LastError() kind
// Unsupported naming the call; every refusal sets LastError(). What it cannot
// show (real files, real XML) is covered by the tests on archives made by
// wimlib-imagex.
class MemoryImaging : public ImagingLibrary, public FailurePlan
{
public:
    struct Archive {
        uint32_t compression = WIM_COMPRESS_LZX;
        uint32_t bootIndex = 0;
        QStringList xml;  // metadata text of each image, in order
    };

    QMap<QString, Archive> archives;  // by path

    // Desired-access values WIMCreateFile refuses, as a file's permissions would.
    QSet<uint32_t> refusedAccess;

    // "WIMCreateFile <path> 0x<access> <disposition> 0x<flags> <compression>",
    // "WIMSetTemporaryPath <path>", "WIMGetAttributes <size>", "WIMLoadImage <index>",
    // "WIMGetImageInformation <index>", "WIMCloseHandle <archive|image n>".
    QStringList calls;
    // Closes that succeeded; message callbacks registered and given back.
    std::atomic<int> closed{0};
    std::atomic<int> registered{0};
    std::atomic<int> unregistered{0};

    // A handle to the archive at `path` (an empty one when there is none),
    // without a call written down: for tests that need "an archive is open".
    HWIM open(const QString &path);
    // A handle no archive stands behind, for tests that never hand it to the
    // library (a window that only needs to hold one).
    static HWIM fakeHandle();

    // Handles handed out and not closed yet.
    int openHandles() const;
    // A handle that was closed twice or never handed out.
    int badCloses() const;

    HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) override;
    bool WIMCloseHandle(HWIM handle) override;
    bool WIMSetTemporaryPath(HWIM wim, const QString &path) override;
    bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) override;
    HWIM WIMLoadImage(HWIM wim, uint32_t index) override;
    bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) override;
    bool WIMSetImageInformation(HWIM, const QString &, uint32_t) override;
    HWIM WIMCaptureImage(HWIM, const QString &, uint32_t) override;
    bool WIMApplyImage(HWIM, const QString &, uint32_t) override;
    bool WIMExportImage(HWIM, HWIM, uint32_t) override;
    bool WIMDeleteImage(HWIM, uint32_t) override;
    bool WIMSetBootImage(HWIM, uint32_t) override;
    uint32_t WIMRegisterMessageCallback(HWIM, WIMMessageCallback, void *) override;
    bool WIMUnregisterMessageCallback(HWIM, WIMMessageCallback) override;
    QString LastErrorText() const override;
    ImagingError LastError() const override;

    // Extensions: nothing in memory changes behind a handle; the rest is not modelled.
    bool WIMRefreshFile(HWIM wim, bool *changed) override;
    bool WIMListImageFolder(HWIM, const QString &, WimDirEntry *, QList<WimDirEntry> *) override;
    bool WIMVisitImageTree(HWIM, const QString &, const WimDirVisitor &) override;
    bool WIMExtractImagePaths(HWIM, const QStringList &, const QString &) override;
    bool WIMSplitFile(HWIM, const QString &, uint64_t, uint32_t) override;
    bool WIMSplitOversizedFiles(HWIM, uint64_t, QList<ImagingOversizedFile> *) override;
    bool WIMVerifyFile(HWIM, ImagingVerifyResult *) override;
    bool WIMOptimizeFile(HWIM) override;
    HWIM WIMCaptureImageWithInformation(HWIM, const QString &, uint32_t, const QString &, uint32_t) override;
    bool WIMUpdateImage(HWIM, const QList<ImagingUpdate> &) override;
    bool WIMMountImage(HWIM, const QString &, uint32_t, const QString &) override;
    bool WIMUnmountImage(const QString &, uint32_t) override;

    // The metadata text of an image with these texts (wimlib's shape, escaped).
    static QString imageXml(uint32_t index, const QString &name, const QString &displayName = {},
                            quint64 totalBytes = 0);

private:
    struct Handle {
        QString path;
        uint32_t image = 0;  // 0 for the archive itself
    };
    Handle *find(HWIM handle);
    HWIM handOut(const QString &path, uint32_t image);
    void note(const QString &call);
    // Forgets the thread's last refusal; true when the plan fails this use.
    bool planned(Call call);
    // Fails a call the fake does not model, saying so (after the plan's use of
    // `call`, for the calls the plan knows).
    bool unmodelled(Call call);
    bool unmodelled(const char *call);

    mutable std::mutex m_mutex;
    std::set<Handle *> m_live;
    std::vector<std::unique_ptr<Handle>> m_all;  // never reused, so a stale handle stays recognisable
    int m_badCloses = 0;
};
