#include "operations/capture_operation.h"

#include "archive/image_texts.h"
#include "capture_settings/exclusion_list.h"
#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"
#include "operations/exclusion_match.h"
#include "operations/operation_host.h"
#include "support/platform.h"
#include "support/ui_thread.h"

#include <QFileInfo>

#include <unistd.h>

namespace {

constexpr LongOperation::Profile kCaptureProfile{
    .busyBeforeRegistering = true,
    .clearsLog = true,
    .pausesBeforeEnd = true,
    .showsLog = true,
    .unregisterFailure = LongOperation::UnregisterFailure::EndsRun,
};

const QString kCaptureFailed = QStringLiteral("无法捕获次映像！");

}  // namespace

QString ArchiveAsCaptured(const QString &archivePath, const QString &capturePath)
{
    const QString archive = QFileInfo(archivePath).canonicalFilePath();
    const QString root = QFileInfo(capturePath).canonicalFilePath();
    if (archive.isEmpty() || root.isEmpty())
        return {};
    const QString prefix = root == QLatin1String("/") ? root : root + QLatin1Char('/');
    if (!archive.startsWith(prefix))
        return {};
    QString spelled = capturePath;
    if (!spelled.endsWith(QLatin1Char('/')))
        spelled += QLatin1Char('/');
    return spelled + archive.mid(prefix.size());
}

CaptureOperation::CaptureOperation(const CaptureRequest &request, std::unique_ptr<ImageInfo> texts)
    : LongOperation(kCaptureProfile), m_request(request), m_texts(std::move(texts))
{
    // What the matcher needs on the library's thread, settled before it starts.
    const QString rootRelative = platform::driveRelativePath(m_request.capturePath);
    m_rootRelative = rootRelative == QLatin1String("\\") ? QString() : rootRelative;
    m_archiveInCapture = ArchiveAsCaptured(m_request.archivePath, m_request.capturePath);
    m_libraryRoot = m_request.capturePath;
}

void CaptureOperation::process(const char16_t *path, int32_t *keep)
{
    if (!path || !keep)
        return;
    const QStringView p(path);
    // The archive being written is never captured into itself.
    if (!m_archiveInCapture.isEmpty() && p == m_archiveInCapture) {
        *keep = 0;
        return;
    }
    const QString &root = m_libraryRoot;
    const QStringView tail = p.startsWith(root) ? p.mid(root.size()) : p;
    const DriveRelativePath relative{m_rootRelative, tail};
    for (const QString &entry : exclusionList().entries()) {
        if (IsExcluded(relative, entry)) {
            *keep = 0;
            return;
        }
    }
}

bool CaptureOperation::prepare(OperationContext &ctx)
{
    if (!platform::isDriveRoot(m_request.capturePath))
        return true;
    const NtfsProbe probe = ProbeNtfsDrive(m_request.capturePath, ::geteuid() == 0, formatCommandRunner());
    if (probe.result == NtfsProbe::NotNtfs)
        return true;
    QString refusal = probe.detail;
    if (probe.result == NtfsProbe::Ntfs)
        refusal = NtfsMountBackMissing(probe.drive);
    if (!refusal.isEmpty()) {
        ctx.failure(kCaptureFailed, QStringLiteral("错误提示"), refusal);
        return false;
    }
    // The library's paths are the device's followed by the volume-relative
    // path, which is the exclusion list's own form; the archive being written
    // cannot be on a volume that is not writable.
    m_ntfs = probe.drive;
    m_libraryRoot = probe.drive.device;
    m_rootRelative.clear();
    m_archiveInCapture.clear();
    return true;
}

// The capture from the device, the drive made read-only around it and given
// back as it was; a failure has been shown when this returns null.
HWIM CaptureOperation::captureNtfsDrive(OperationContext &ctx, const QString &texts)
{
    OperationHost &host = ctx.host();
    HWIM image = nullptr;
    QString callCause;
    const NtfsDriveOutcome outcome = CaptureFromNtfsDrive(
        *m_ntfs, ::geteuid() == 0, {m_request.archivePath, m_request.workDir},
        [this, &image, &callCause, &texts](const QString &device) {
            ImagingLibrary &lib = imaging();
            image = lib.WIMCaptureImageWithInformation(m_request.wim, device, WIM_FLAG_NTFS_VOLUME | readFlags(), texts,
                                                       uint32_t(texts.size() * 2));
            if (!image)
                callCause = NtfsCallCause(lib.LastError(), device);
            return image != nullptr;
        },
        formatCommandRunner());
    if (!image) {
        host.EndBusy();
        ctx.failure(kCaptureFailed, QStringLiteral("错误提示"), outcome.failureDetail(callCause));
    }
    if (outcome.stage == NtfsDriveOutcome::NotRestored) {
        host.HideBusyNow();
        ctx.failure(QStringLiteral("捕获映像后无法恢复目标分区的挂载！"), QStringLiteral("错误提示"), outcome.detail);
    }
    return image;
}

uint32_t CaptureOperation::readFlags() const
{
    return m_request.fullRead ? WIM_FLAG_FULL_READ : 0;
}

void CaptureOperation::busyStarted(OperationContext &ctx)
{
    ctx.host().SetFilterActive(true);
}

void CaptureOperation::registrationFailed(OperationContext &ctx)
{
    ctx.failure(QStringLiteral("回掉出错！"), {}, imaging().LastError());
}

bool CaptureOperation::work(OperationContext &ctx)
{
    ImagingLibrary &lib = imaging();
    OperationHost &host = ctx.host();

    // The image and its texts are one commit: a kill never leaves the image without them.
    const QString texts = NewImageTexts(*m_texts);
    WimHandle image(lib, m_ntfs ? captureNtfsDrive(ctx, texts)
                                : lib.WIMCaptureImageWithInformation(m_request.wim, m_request.capturePath, readFlags(),
                                                                     texts, uint32_t(texts.size() * 2)));
    if (!image) {
        if (!m_ntfs) {
            const ImagingError why = lib.LastError();
            host.EndBusy();
            ctx.failure(kCaptureFailed, QStringLiteral("错误提示"), why);
        }
        return false;
    }

    // The new record, as the archive holds it.
    ImageInfo record;
    switch (ReadImageRecord(lib, image.get(), &record)) {
    case ImageRead::NotRead: {
        const ImagingError why = lib.LastError();
        host.HideBusyNow();
        ctx.failure(QStringLiteral("文件无法读取"), QStringLiteral("错误提示"), why);
        return false;
    }
    case ImageRead::Malformed:
        // Only a damaged metadata text gets here; the image itself was captured.
        host.HideBusyNow();
        ctx.failure(QStringLiteral("映像信息格式错误，无法写入映像信息！请重新打开文件查看。(0x80070057)"),
                    QStringLiteral("错误提示"), QString());
        return false;
    case ImageRead::Read: break;
    }
    m_texts.reset();

    uiThread::run([&] { host.AddCapturedImage(record); });

    if (!image.close()) {
        const ImagingError why = lib.LastError();
        host.HideBusyNow();
        ctx.failure(QStringLiteral("关闭句柄出错！"), QStringLiteral("错误提示"), why);
        return false;
    }
    return true;
}
