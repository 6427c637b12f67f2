// The capture command: the image information dialog on the UI thread, then
// the capture operation on its worker.
#include "app/ctarnbox_dlg.h"

#include "capture_settings/cwim_image_info.h"
#include "operations/capture_operation.h"
#include "support/platform.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

void CTarnboxDlg::AddImage()
{
    // Claimed before the dialog: its detection job and whatever the user does
    // meanwhile belong to this capture.
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim || RefuseWriteToSplitSet())
        return;
    CWIM_Image_Info dialog(this);
    dialog.m_systemDrive = platform::systemDriveRoot();
    if (prompts().execDialog(dialog) != QDialog::Accepted)
        return;
    // As the folder chooser gives it: the matcher cuts the capture folder off
    // the library's paths by its spelling.
    m_strCapturePath = platform::normalizedFolderPath(dialog.m_capturePath);
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
    const CaptureRequest request{m_hWim.get(), m_strCapturePath, m_strArchiveOnDisk, m_strWorkDir, dialog.m_fullRead};
    m_runner.start(std::move(claim),
                   [this, request, info] { CaptureWorker(request, std::make_unique<ImageInfo>(*info)); });
}

void CTarnboxDlg::CaptureWorker(const CaptureRequest &request, std::unique_ptr<ImageInfo> info)
{
    CaptureOperation capture(request, std::move(info));
    m_runner.run(capture);
}
