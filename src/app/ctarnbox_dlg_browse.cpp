// Browsing the selected image, and extracting from it: the browse dialog is
// a quick command; its extraction is a long operation of this window.
#include "app/ctarnbox_dlg.h"

#include "archive/archive_log.h"
#include "archive/cbrowse_image_dlg.h"
#include "archive/image_details.h"
#include "imaging/imaging_library.h"
#include "operations/extract_operation.h"
#include "operations/image_change_operation.h"
#include "support/failure_report.h"
#include "support/ui_thread.h"

#include <QFileInfo>
#include <QPointer>
#include <QTableWidget>
#include <QTimeZone>

namespace {

// The details line of an image handle's metadata; "" when it cannot be read.
QString detailsOf(HWIM image)
{
    QString xml;
    if (!image || !imaging().WIMGetImageInformation(image, &xml, nullptr))
        return {};
    return ImageDetailsText(ReadImageDetails(xml), QTimeZone::systemTimeZone());
}

}  // namespace

void CTarnboxDlg::BrowseImage()
{
    const int r = SelectedRow();
    if (!m_hWim || r < 0 || r >= m_Images.count)
        return;
    const HWIM image = imaging().WIMLoadImage(m_hWim.get(), uint32_t(r + 1));
    if (!image) {
        reportFailure(lcArchive, this, QStringLiteral("映像无法加载！"), QStringLiteral("错误提示"),
                      imaging().LastError());
        return;
    }
    const ImageInfo &info = m_Images.records[size_t(r)];
    QString title = info.name.isEmpty() ? info.displayName : info.name;
    if (title.isEmpty())
        title = QStringLiteral("映像 %1").arg(r + 1);
    const QString details = detailsOf(image);
    auto *browse = new CBrowseImageDlg(image, title, this);
    browse->SetImageDetails(details);
    const uint32_t index = uint32_t(r + 1);
    connect(browse, &CBrowseImageDlg::extractRequested, this,
            [this, index, browse](const QStringList &paths) { ExtractFromImage(index, paths, browse); });
    browse->SetWritable(m_nAccess == 2 && m_nTotalParts <= 1);
    browse->SetWorkDirectory(m_strWorkDir);
    connect(browse, &CBrowseImageDlg::desktopExtractRequested, this,
            [this, index](const QStringList &paths, const QString &destination, const std::function<void(bool)> &done) {
                // Refused as every command is while another operation runs.
                OperationRunner::Claim claim = AcceptsCommands() ? m_runner.claim() : OperationRunner::Claim();
                if (!claim) {
                    done(false);
                    return;
                }
                m_runner.start(std::move(claim), std::make_unique<ExtractOperation>(index, paths, destination, done));
            });
    connect(browse, &CBrowseImageDlg::changeRequested, this,
            [this, index, browse](const ImageChange &change) { ChangeImage(index, change, browse); });
    browse->show();
}

void CTarnboxDlg::ExtractFromImage(uint32_t imageIndex, const QStringList &paths, QWidget *chooserOwner)
{
    // Refused as every command is while another operation runs; claimed
    // before the folder question, so nothing starts beside it.
    if (!AcceptsCommands())
        return;
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim)
        return;
    const QString destination = PickFolder(chooserOwner);
    if (destination.isEmpty())
        return;
    m_runner.start(std::move(claim), std::make_unique<ExtractOperation>(imageIndex, paths, destination));
}

void CTarnboxDlg::CloseBrowseDialogs()
{
    const auto dialogs = findChildren<CBrowseImageDlg *>(Qt::FindDirectChildrenOnly);
    for (CBrowseImageDlg *browse : dialogs)
        browse->close();
}

void CTarnboxDlg::ChangeImage(uint32_t imageIndex, ImageChange change, CBrowseImageDlg *browse)
{
    if (!AcceptsCommands())
        return;
    OperationRunner::Claim claim = m_runner.claim();
    if (!claim)
        return;
    if (m_nAccess != 2 || m_nTotalParts > 1) {
        ReportWriteRefused();
        return;
    }
    if (m_strWorkDir.isEmpty()) {
        uiThread::messageBox(this, QStringLiteral("请先设置临时文件！"), QStringLiteral("错误提示"));
        return;
    }
    if (!browse->CompleteChange(&change))
        return;
    QPointer<CBrowseImageDlg> dialog(browse);
    auto finished = [this, imageIndex, change, dialog](const ImagingError &error) {
        ShowImageChanged(imageIndex, change, error, dialog);
    };
    m_runner.start(std::move(claim), std::make_unique<ImageChangeOperation>(imageIndex, change, std::move(finished)));
}

void CTarnboxDlg::ShowImageChanged(uint32_t imageIndex, const ImageChange &change, const ImagingError &error,
                                   CBrowseImageDlg *browse)
{
    if (error.kind == ImagingError::Kind::ChangedOnDisk) {
        // Another program changed the archive: its images may have moved.
        ReloadImageList();
        return;
    }
    if (error.kind != ImagingError::Kind::None)
        return;
    // The image's counts, sizes and time have changed.
    const int row = int(imageIndex) - 1;
    const bool selected = SelectedRow() == row;
    if (!LoadImageList())
        return;
    if (selected && row < m_List->rowCount())
        m_List->setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!browse)
        return;
    QString select;
    QStringList folders{change.folder};
    switch (change.kind) {
    case ImageChange::Kind::Add: select = QFileInfo(change.paths.value(0)).fileName(); break;
    case ImageChange::Kind::Rename:
    case ImageChange::Kind::NewFolder: select = change.name; break;
    case ImageChange::Kind::Delete: break;
    }
    browse->Refresh(folders, select);
    const WimHandle image(imaging(), imaging().WIMLoadImage(m_hWim.get(), imageIndex));
    browse->SetImageDetails(detailsOf(image.get()));
}
