// Exporting an image into another archive.
#include "app/ctarnbox_dlg.h"

#include "imaging/imaging_library.h"
#include "operations/background_task.h"
#include "operations/message_callback.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// True when both paths name one existing file, through links too.
bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString ca = QFileInfo(a).canonicalFilePath();
    if (!ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath())
        return true;
    struct stat sa;
    struct stat sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

void CTarnboxDlg::ExportImage()
{
    FileChooser chooser;
    chooser.filter = QStringLiteral("Wim镜像(*.wim)|*.wim||");
    chooser.defaultExtension = QStringLiteral("wim");
    chooser.initialName = QStringLiteral("Wim镜像");
    chooser.overwritePrompt = false;  // an existing archive receives the image
    const QString destination = uiThread::saveFile(this, chooser);
    if (destination.isEmpty())
        return;

    // A second handle on the open archive would write the file behind the
    // first one's back, and the open handle's next change could drop the image.
    if (m_hWim && sameFile(destination, m_strFilePath)) {
        uiThread::messageBox(this, QStringLiteral("不能导出到当前打开的文件！"), QStringLiteral("错误提示"));
        return;
    }

    ImagingLibrary &lib = imaging();
    const int row = SelectedRow();
    HWIM image = lib.WIMLoadImage(m_hWim, uint32_t(row + 1));
    if (!image) {
        uiThread::messageBox(this, QStringLiteral("当前文件无法加载！"), QStringLiteral("错误提示"));
        return;
    }
    uint32_t creationResult = 0;
    HWIM target = lib.WIMCreateFile(destination, WIM_GENERIC_READ_WRITE, WIM_OPEN_ALWAYS, 0,
                                    uint32_t(int32_t(m_Images.compression)), &creationResult);
    if (!target) {
        lib.WIMCloseHandle(image);
        uiThread::messageBox(this, QStringLiteral("目标文件无法打开！"), QStringLiteral("错误提示"));
        return;
    }
    if (!lib.WIMSetTemporaryPath(target, m_strWorkDir)) {
        lib.WIMCloseHandle(image);
        lib.WIMCloseHandle(target);
        uiThread::messageBox(this, QStringLiteral("无法设置临时目录！"), QStringLiteral("错误提示"));
        return;
    }
    backgroundTasks::start([this, target, image] { ExportWorker(target, image); });
}

void CTarnboxDlg::ExportWorker(HWIM destination, HWIM image)
{
    ImagingLibrary &lib = imaging();
    BeginBusy();
    // What the library reports during this export is shown at its end, and
    // nothing left over from an earlier operation.
    uiThread::run([this] { m_strLog.clear(); });

    if (lib.WIMRegisterMessageCallback(nullptr, WimMessageCallback, nullptr) == INVALID_CALLBACK_VALUE) {
        EndBusy();
        uiThread::messageBox(this, QStringLiteral("无法注册回掉！"), QStringLiteral("错误提示"));
        lib.WIMCloseHandle(image);
        lib.WIMCloseHandle(destination);
        return;
    }
    if (!lib.WIMExportImage(image, destination, WIM_EXPORT_ALLOW_DUPLICATES))
        uiThread::messageBox(this, QStringLiteral("文件导出失败！"), QStringLiteral("错误提示"));
    lib.WIMCloseHandle(image);
    lib.WIMCloseHandle(destination);
    lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback);
    EndBusy();
    ReportFinished();
    ShowLog();
}
