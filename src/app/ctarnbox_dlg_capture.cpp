// Capturing a folder into a new image of the open archive.
#include "app/ctarnbox_dlg.h"

#include "archive/metadata_xml.h"
#include "capture_settings/cwim_image_info.h"
#include "capture_settings/exclusion_list.h"
#include "imaging/imaging_library.h"
#include "operations/background_task.h"
#include "operations/exclusion_match.h"
#include "operations/message_callback.h"
#include "support/clock.h"
#include "support/platform.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QFileInfo>

namespace {

// The five texts in the order they are written into the metadata.
struct TextField {
    QString ImageInfo::*field;
    MetadataTag tag;
};
constexpr TextField kWriteOrder[] = {
    {&ImageInfo::description, MetadataTag::Description},
    {&ImageInfo::name, MetadataTag::Name},
    {&ImageInfo::flags, MetadataTag::Flags},
    {&ImageInfo::displayDescription, MetadataTag::DisplayDescription},
    {&ImageInfo::displayName, MetadataTag::DisplayName},
};

// The open archive as the capture spells it: the capture folder as given,
// followed by the archive's path below it. Empty when the archive is not
// inside the capture folder.
QString archiveAsCaptured(const QString &archivePath, const QString &capturePath)
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

}  // namespace

void CTarnboxDlg::AddImage()
{
    CWIM_Image_Info dialog(this);
    dialog.m_systemDrive = platform::systemDriveRoot();
    if (prompts().execDialog(dialog) != QDialog::Accepted)
        return;
    m_strCapturePath = dialog.m_capturePath;
    if (m_strCapturePath.isEmpty())
        return;
    if (platform::isSystemDriveRoot(m_strCapturePath))
        uiThread::messageBox(this, QStringLiteral("捕获系统盘，点击确定继续"), QStringLiteral("警告"), MB_OK);

    auto info = std::make_shared<ImageInfo>();
    info->displayName = dialog.m_displayName;
    info->displayDescription = dialog.m_displayDescription;
    info->name = dialog.m_imageName;
    info->description = dialog.m_imageDescription;
    info->flags = dialog.m_systemFlag;

    // What the matcher needs on the library's thread, settled before it starts.
    const QString rootRelative = platform::driveRelativePath(m_strCapturePath);
    m_strCaptureRootRelative = rootRelative == QLatin1String("\\") ? QString() : rootRelative;
    m_strArchiveInCapture = archiveAsCaptured(m_strArchiveOnDisk, m_strCapturePath);

    backgroundTasks::start([this, info] { CaptureWorker(std::make_unique<ImageInfo>(*info)); });
}

void CTarnboxDlg::OnOpProcess(const char16_t *path, int32_t *keep)
{
    if (!m_bFilterActive.load(std::memory_order_acquire) || !path || !keep)
        return;
    const QStringView p(path);
    // The archive being written is never captured into itself.
    if (!m_strArchiveInCapture.isEmpty() && p == m_strArchiveInCapture) {
        *keep = 0;
        return;
    }
    const QStringView tail = p.startsWith(m_strCapturePath) ? p.mid(m_strCapturePath.size()) : p;
    const DriveRelativePath relative{m_strCaptureRootRelative, tail};
    const ExclusionList &list = exclusionList();
    for (const QString &entry : list.entries()) {
        if (IsExcluded(relative, entry)) {
            *keep = 0;
            return;
        }
    }
}

void CTarnboxDlg::CaptureWorker(std::unique_ptr<ImageInfo> info)
{
    ImagingLibrary &lib = imaging();
    BeginBusy();
    m_bFilterActive.store(true, std::memory_order_release);
    uiThread::run([this] { m_strLog.clear(); });

    if (lib.WIMRegisterMessageCallback(nullptr, WimMessageCallback, nullptr) == INVALID_CALLBACK_VALUE) {
        EndBusy();
        uiThread::messageBox(this, QStringLiteral("回掉出错！"));
        return;
    }

    HWIM image = lib.WIMCaptureImage(m_hWim, m_strCapturePath, 0);
    if (!image) {
        EndBusy();
        uiThread::messageBox(this, QStringLiteral("无法捕获次映像！"), QStringLiteral("错误提示"));
        lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback);
        return;
    }

    QString xml;
    uint32_t bytes = 0;
    if (!lib.WIMGetImageInformation(image, &xml, &bytes)) {
        HideBusyNow();
        uiThread::messageBox(this, QStringLiteral("文件无法读取"), QStringLiteral("错误提示"));
        lib.WIMCloseHandle(image);
        lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback);
        return;
    }

    // The record is filled and the texts are set on the UI thread, which owns
    // the table; the new record is row `row`.
    int row = -1;
    const bool readable = uiThread::call(false, [&] {
        row = m_Images.count;
        if (!ReadImageInfo(xml, m_Images)) {
            m_Images.remove(row);
            return false;
        }
        ImageInfo &record = m_Images.records[std::size_t(row)];
        for (const TextField &t : kWriteOrder) {
            const QString &value = (*info).*(t.field);
            if (value.isEmpty())
                continue;
            record.*(t.field) = value;
            if (!SetMetadataTag(xml, value, t.tag)) {
                m_Images.remove(row);
                return false;
            }
        }
        return true;
    });
    if (!readable) {
        // Only a damaged metadata text gets here; the image itself was captured.
        HideBusyNow();
        uiThread::messageBox(this, QStringLiteral("映像信息格式错误，无法写入映像信息！请重新打开文件查看。(0x80070057)"),
                             QStringLiteral("错误提示"));
        lib.WIMCloseHandle(image);
        lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback);
        return;
    }

    if (!lib.WIMSetImageInformation(image, xml, uint32_t(xml.size() * 2))) {
        HideBusyNow();
        uiThread::messageBox(this, QStringLiteral("无法修改信息！"), QStringLiteral("错误信息"));
        // The row shows what the archive holds, not the texts it refused.
        QString stored;
        if (lib.WIMGetImageInformation(image, &stored, &bytes)) {
            uiThread::run([&] {
                ImageTable fresh;
                if (ReadImageInfo(stored, fresh))
                    m_Images.records[std::size_t(row)] = fresh.records[0];
            });
        }
    }
    info.reset();

    uiThread::run([&] {
        AddImageRow(row);
        RefreshWindow();
    });

    if (!lib.WIMCloseHandle(image)) {
        HideBusyNow();
        uiThread::messageBox(this, QStringLiteral("关闭句柄出错！"), QStringLiteral("错误提示"));
        lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback);
        return;
    }
    if (!lib.WIMUnregisterMessageCallback(nullptr, WimMessageCallback)) {
        HideBusyNow();
        uiThread::messageBox(this, QStringLiteral("吊销出错！"), QStringLiteral("错误提示"));
        return;
    }
    appClock().sleepMs(500);
    EndBusy();
    ReportFinished();
    ShowLog();
}
