// Applying an image to a folder or a drive.
#include "app/ctarnbox_dlg.h"

#include "imaging/imaging_library.h"
#include "operations/background_task.h"
#include "operations/drive_format.h"
#include "operations/message_callback.h"
#include "support/clock.h"
#include "support/platform.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QFileInfo>

#include <unistd.h>

namespace {

constexpr uint32_t kApplyFlags = WIM_FLAG_VERIFY | WIM_FLAG_INDEX;

// Formats the drive whose root is `target` when that is safe. On the way, the
// user learns why it is not; false means the apply must not go on.
bool formatTarget(CTarnboxDlg &dlg, const QString &target)
{
    QString archive;
    QString workDir;
    uiThread::run([&] {
        archive = dlg.m_hWim ? dlg.m_strFilePath : QString();
        workDir = dlg.m_strWorkDir;
    });
    // Formatting would wipe the very archive to be applied, or the library's
    // temporary files, before the image is read.
    if (platform::sameDrive(target, archive)) {
        uiThread::messageBox(&dlg, QStringLiteral("目标分区上有当前打开的映像文件，不能格式化！"),
                             QStringLiteral("错误提示"));
        return false;
    }
    if (platform::sameDrive(target, workDir)) {
        uiThread::messageBox(&dlg, QStringLiteral("目标分区上有临时目录，不能格式化！请先更改临时目录。"),
                             QStringLiteral("错误提示"));
        return false;
    }

    const QString canonical = QFileInfo(target).canonicalFilePath();
    const FormatOutcome outcome = FormatDrive(canonical.isEmpty() ? target : canonical, QStringLiteral("ravo"),
                                              ::geteuid() == 0, formatCommandRunner());
    switch (outcome.stage) {
    case FormatOutcome::Formatted:
        return true;
    case FormatOutcome::NotFormatted:
        uiThread::messageBox(&dlg, QStringLiteral("格式化失败，未释放映像！\n\n") + outcome.detail,
                             QStringLiteral("错误提示"));
        return false;
    case FormatOutcome::NotMounted:
        uiThread::messageBox(&dlg, QStringLiteral("格式化后无法挂载目标分区，未释放映像！\n\n") + outcome.detail,
                             QStringLiteral("错误提示"));
        return false;
    }
    return false;
}

}  // namespace

void CTarnboxDlg::ApplyImage()
{
    backgroundTasks::start([this] { ApplyWorker(); });
}

void CTarnboxDlg::ApplyWorker()
{
    ImagingLibrary &lib = imaging();

    const QString target = PickFolder(this);
    if (target.isEmpty())
        return;

    if (platform::isDriveRoot(target)) {
        if (platform::isSystemDriveRoot(target))
            uiThread::messageBox(this, QStringLiteral("正在释放到当前系统盘，点击确定继续！"), QStringLiteral("警告"),
                                 MB_OK);
        const int answer = uiThread::messageBox(
            this, QStringLiteral("你需要格式化目标分区吗(NTFS分区 4K自动对齐)？格式化后原有数据将会丢失！"),
            QStringLiteral("温馨提示"), MB_OKCANCEL);
        if (answer == IDOK && !formatTarget(*this, target))
            return;
    }

    // The table and the list belong to the UI thread.
    HWIM wim = nullptr;
    int row = -1;
    uiThread::run([&] {
        m_strLog.clear();
        wim = m_hWim;
        row = SelectedRow();
    });
    // A failed load takes the path of a failed apply.
    HWIM image = wim ? lib.WIMLoadImage(wim, uint32_t(row + 1)) : nullptr;

    if (lib.WIMRegisterMessageCallback(nullptr, WimMessageCallback, nullptr) == INVALID_CALLBACK_VALUE) {
        if (image)
            lib.WIMCloseHandle(image);
        uiThread::messageBox(this, QStringLiteral("回掉出错！"));
        return;
    }

    BeginBusy();
    if (!image || !lib.WIMApplyImage(image, target, kApplyFlags)) {
        EndBusy();
        uiThread::messageBox(this, QStringLiteral("无法释放映像到目标路径"), QStringLiteral("错误提示"));
    }
    if (image)
        lib.WIMCloseHandle(image);
    if (!lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback)) {
        EndBusy();
        uiThread::messageBox(this, QStringLiteral("吊销出错！"), QStringLiteral("错误提示"));
    }
    appClock().sleepMs(500);
    EndBusy();
    ReportFinished();
    ShowLog();
}
