#include "operations/apply_operation.h"

#include "imaging/imaging_library.h"
#include "operations/drive_format.h"
#include "operations/ntfs_drive.h"
#include "operations/operation_host.h"
#include "support/platform.h"
#include "support/ui_thread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

constexpr uint32_t kApplyFlags = WIM_FLAG_VERIFY | WIM_FLAG_INDEX;

constexpr LongOperation::Profile kApplyProfile{
    .busyBeforeRegistering = false,
    .clearsLog = true,
    .pausesBeforeEnd = true,
    .showsLog = true,
    .unregisterFailure = LongOperation::UnregisterFailure::Reported,
};

const QString kApplyFailed = QStringLiteral("无法释放映像到目标路径");

ArchiveState archiveState(OperationHost &host)
{
    return uiThread::call(ArchiveState(), [&host] { return host.OpenArchiveState(); });
}

bool privileged()
{
    return ::geteuid() == 0;
}

bool holdsEntries(const QString &folder)
{
    return !QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty();
}

}  // namespace

ApplyOperation::ApplyOperation() : LongOperation(kApplyProfile) {}

bool ApplyOperation::prepare(OperationContext &ctx)
{
    m_target = uiThread::pickFolderPath(ctx.host().PromptOwner());
    if (m_target.isEmpty())
        return false;
    m_driveRoot = platform::isDriveRoot(m_target);
    if (!m_driveRoot)
        return true;
    if (platform::isSystemDriveRoot(m_target))
        ctx.message(QStringLiteral("正在释放到当前系统盘，点击确定继续！"), QStringLiteral("警告"), MB_OK);
    const int answer =
        ctx.message(QStringLiteral("你需要格式化目标分区吗(NTFS分区 4K自动对齐)？格式化后原有数据将会丢失！"),
                    QStringLiteral("温馨提示"), MB_OKCANCEL);
    return answer != IDOK || formatTarget(ctx);
}

// Formats the drive whose root is the target when that is safe. On the way,
// the user learns why it is not; false means the apply must not go on.
bool ApplyOperation::formatTarget(OperationContext &ctx)
{
    const ArchiveState state = archiveState(ctx.host());
    const QString archive = state.wim ? state.filePath : QString();
    // Formatting would wipe the very archive to be applied, or the library's
    // temporary files, before the image is read.
    if (platform::sameDrive(m_target, archive)) {
        ctx.message(QStringLiteral("目标分区上有当前打开的映像文件，不能格式化！"), QStringLiteral("错误提示"));
        return false;
    }
    if (platform::sameDrive(m_target, state.workDir)) {
        ctx.message(QStringLiteral("目标分区上有临时目录，不能格式化！请先更改临时目录。"), QStringLiteral("错误提示"));
        return false;
    }

    // The chain of unmount, format and mount runs to its end whatever happens
    // meanwhile: cut, it would leave the drive unmounted.
    const QString canonical = QFileInfo(m_target).canonicalFilePath();
    const FormatOutcome outcome = FormatDrive(canonical.isEmpty() ? m_target : canonical, QStringLiteral("ravo"),
                                              privileged(), formatCommandRunner());
    switch (outcome.stage) {
    case FormatOutcome::Formatted: return true;
    case FormatOutcome::NotFormatted:
        ctx.failure(QStringLiteral("格式化失败，未释放映像！"), QStringLiteral("错误提示"), outcome.detail);
        return false;
    case FormatOutcome::NotMounted:
        ctx.failure(QStringLiteral("格式化后无法挂载目标分区，未释放映像！"), QStringLiteral("错误提示"),
                    outcome.detail);
        return false;
    }
    return false;
}

void ApplyOperation::beforeRegistering(OperationContext &ctx)
{
    // A failed load takes the path of a failed apply.
    const ArchiveState state = archiveState(ctx.host());
    m_wim = state.wim;
    m_index = uint32_t(state.selectedRow + 1);
    m_image.reset(imaging(), state.wim ? imaging().WIMLoadImage(state.wim, m_index) : nullptr);
    if (!m_image)
        m_loadFailure = state.wim ? imaging().LastError() : ImagingError();
}

void ApplyOperation::registrationFailed(OperationContext &ctx)
{
    const ImagingError why = imaging().LastError();
    m_image.close();
    ctx.failure(QStringLiteral("回掉出错！"), {}, why);
}

bool ApplyOperation::work(OperationContext &ctx)
{
    ImagingLibrary &lib = imaging();
    const NtfsProbe probe = m_driveRoot ? ProbeNtfsDrive(m_target, privileged(), formatCommandRunner()) : NtfsProbe();
    if (probe.result != NtfsProbe::NotNtfs) {
        applyOntoNtfsDrive(ctx, probe);
    } else if (!m_image || !lib.WIMApplyImage(m_image.get(), m_target, kApplyFlags)) {
        const ImagingError why = m_image ? lib.LastError() : m_loadFailure;
        const QString damaged =
            m_image && why.kind == ImagingError::Kind::DamagedData ? removeDamagedFiles(ctx) : QString();
        ctx.host().EndBusy();
        ctx.failure(kApplyFailed, QStringLiteral("错误提示"), why, damaged);
    }
    m_image.close();
    return true;
}

// An apply stopped at damaged data leaves the files written so far, the one
// it stopped at with its full size and wrong bytes: the image's damaged files
// go from the target, so that none looks complete, each named in the log.
// What to say beneath the failure.
QString ApplyOperation::removeDamagedFiles(OperationContext &ctx)
{
    ImagingVerifyResult result;
    QStringList lines;
    int removed = 0;
    if (m_wim && imaging().WIMVerifyFile(m_wim, &result)) {
        for (const ImagingDamagedFile &file : std::as_const(result.damaged)) {
            if (file.image != m_index || file.path.isEmpty())
                continue;
            const QString path = QDir(m_target).filePath(file.path.mid(1));
            const QFileInfo info(path);
            if (info.isFile() && !info.isSymLink() && QFile::remove(path)) {
                ++removed;
                lines << QStringLiteral("数据已损坏，已从目标中删除：%1").arg(path);
            } else {
                lines << QStringLiteral("数据已损坏，未释放：%1").arg(path);
            }
        }
    }
    OperationHost &host = ctx.host();
    uiThread::run([&host, &lines] {
        for (const QString &line : std::as_const(lines))
            host.AppendLogText(line);
    });
    return removed > 0 ? QStringLiteral("目标文件夹中现为不完整的副本：释放中途停止，已删除其中 %1 个数据已损坏的文件"
                                        "（见输出窗口）。")
                             .arg(removed)
                       : QStringLiteral("目标文件夹中现为不完整的副本：释放中途停止。");
}

// Everything that can be told before the drive is touched refuses the apply
// there; once unmounted, the drive is mounted back whatever happens.
void ApplyOperation::applyOntoNtfsDrive(OperationContext &ctx, const NtfsProbe &probe)
{
    OperationHost &host = ctx.host();
    NtfsDriveOutcome outcome;  // refused until the chain runs
    QString callCause;
    if (probe.result == NtfsProbe::Unknown) {
        outcome.detail = probe.detail;
    } else if (!m_image || ctx.aborted()) {
        // Nothing to apply, or the user is closing: the drive is left alone.
    } else if (const QString missing = NtfsMountBackMissing(probe.drive); !missing.isEmpty()) {
        outcome.detail = missing;
    } else if (holdsEntries(probe.drive.mountPoint)) {
        // The volume only takes new names: an apply over what is there would
        // stop half-way at the first name it holds.
        outcome.detail = QStringLiteral("目标分区不是空的：直接释放到 NTFS 分区时只添加文件，不覆盖原有文件。"
                                        "请格式化目标分区后再释放，或释放到分区中的文件夹。");
    } else {
        const ArchiveState state = archiveState(host);
        QStringList mustStayMounted{state.workDir};
        if (state.wim)
            mustStayMounted << state.filePath;
        outcome = ApplyOntoNtfsDrive(
            probe.drive, privileged(), mustStayMounted,
            [this, &callCause](const QString &device) {
                ImagingLibrary &lib = imaging();
                if (lib.WIMApplyImage(m_image.get(), device, kApplyFlags | WIM_FLAG_NTFS_VOLUME))
                    return true;
                callCause = NtfsCallCause(lib.LastError(), device);
                return false;
            },
            formatCommandRunner());
    }

    if (!outcome.callSucceeded) {
        host.EndBusy();
        ctx.failure(kApplyFailed, QStringLiteral("错误提示"), outcome.failureDetail(callCause));
    }
    if (outcome.stage == NtfsDriveOutcome::NotRestored) {
        host.EndBusy();
        ctx.failure(QStringLiteral("释放映像后无法重新挂载目标分区！"), QStringLiteral("错误提示"), outcome.detail);
    }
}
