#include "operations/apply_operation.h"

#include "imaging/imaging_library.h"
#include "operations/drive_format.h"
#include "operations/operation_host.h"
#include "support/platform.h"
#include "support/ui_thread.h"

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

ArchiveState archiveState(OperationHost &host)
{
    return uiThread::call(ArchiveState(), [&host] { return host.OpenArchiveState(); });
}

}  // namespace

ApplyOperation::ApplyOperation() : LongOperation(kApplyProfile) {}

bool ApplyOperation::prepare(OperationContext &ctx)
{
    m_target = uiThread::pickFolderPath(ctx.host().PromptOwner());
    if (m_target.isEmpty())
        return false;
    if (!platform::isDriveRoot(m_target))
        return true;
    if (platform::isSystemDriveRoot(m_target))
        ctx.message(QStringLiteral("正在释放到当前系统盘，点击确定继续！"), QStringLiteral("警告"), MB_OK);
    const int answer = ctx.message(
        QStringLiteral("你需要格式化目标分区吗(NTFS分区 4K自动对齐)？格式化后原有数据将会丢失！"),
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
                                              ::geteuid() == 0, formatCommandRunner());
    switch (outcome.stage) {
    case FormatOutcome::Formatted:
        return true;
    case FormatOutcome::NotFormatted:
        ctx.message(QStringLiteral("格式化失败，未释放映像！\n\n") + outcome.detail, QStringLiteral("错误提示"));
        return false;
    case FormatOutcome::NotMounted:
        ctx.message(QStringLiteral("格式化后无法挂载目标分区，未释放映像！\n\n") + outcome.detail,
                    QStringLiteral("错误提示"));
        return false;
    }
    return false;
}

void ApplyOperation::beforeRegistering(OperationContext &ctx)
{
    // A failed load takes the path of a failed apply.
    const ArchiveState state = archiveState(ctx.host());
    m_image = state.wim ? imaging().WIMLoadImage(state.wim, uint32_t(state.selectedRow + 1)) : nullptr;
}

void ApplyOperation::registrationFailed(OperationContext &ctx)
{
    if (m_image)
        imaging().WIMCloseHandle(m_image);
    m_image = nullptr;
    ctx.message(QStringLiteral("回掉出错！"));
}

bool ApplyOperation::work(OperationContext &ctx)
{
    ImagingLibrary &lib = imaging();
    if (!m_image || !lib.WIMApplyImage(m_image, m_target, kApplyFlags)) {
        ctx.host().EndBusy();
        ctx.message(QStringLiteral("无法释放映像到目标路径"), QStringLiteral("错误提示"));
    }
    if (m_image)
        lib.WIMCloseHandle(m_image);
    m_image = nullptr;
    return true;
}
