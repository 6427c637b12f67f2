// Deleting an image, marking the boot image and editing an image's texts.
#include "app/ctarnbox_dlg.h"

#include "archive/image_texts.h"
#include "capture_settings/cwim_image_info.h"
#include "imaging/imaging_library.h"
#include "operations/operations_log.h"
#include "resources/resource_ids.h"
#include "support/failure_report.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QTableWidget>

namespace {

// The dialog's member for each text.
struct EditableText {
    QString ImageInfo::*field;
    QString CWIM_Image_Info::*member;
};
constexpr EditableText kEditDialog[] = {
    {&ImageInfo::description, &CWIM_Image_Info::m_imageDescription},
    {&ImageInfo::name, &CWIM_Image_Info::m_imageName},
    {&ImageInfo::flags, &CWIM_Image_Info::m_systemFlag},
    {&ImageInfo::displayDescription, &CWIM_Image_Info::m_displayDescription},
    {&ImageInfo::displayName, &CWIM_Image_Info::m_displayName},
};

}  // namespace

void CTarnboxDlg::ReportWriteRefused()
{
    QString cause;
    if (m_hWim)
        cause = m_nTotalParts > 1 ? QStringLiteral("分卷映像只能读取，请先导出为单个映像文件")
                                  : QStringLiteral("映像文件是以只读方式打开的，不能写入");
    reportFailure(lcOperations, this, QStringLiteral("文件无法写入"), QString(), cause);
}

bool CTarnboxDlg::RefuseWriteToSplitSet()
{
    if (!m_hWim || m_nTotalParts <= 1)
        return false;
    ReportWriteRefused();
    return true;
}

void CTarnboxDlg::DeleteImage()
{
    if (m_nAccess != 2) {
        ReportWriteRefused();
        return;
    }
    if (m_strWorkDir.isEmpty()) {
        uiThread::messageBox(this, QStringLiteral("请先设置临时文件！"), QStringLiteral("错误提示"));
        return;
    }
    const int r = SelectedRow();
    if (r < 0 || r >= m_Images.count)
        return;
    // Nothing offers a deleted image back: a slip of the mouse must not cost one.
    if (!ConfirmDelete(r))
        return;
    if (!imaging().WIMDeleteImage(m_hWim.get(), uint32_t(r + 1))) {
        const ImagingError why = imaging().LastError();
        ReloadIfChangedElsewhere(why);
        reportFailure(lcOperations, this, QStringLiteral("删除失败！"), QStringLiteral("错误提示"), why);
        return;
    }
    CloseBrowseDialogs();  // the images after r have moved up
    m_List->removeRow(r);
    m_Images.remove(r);
    if (m_Images.bootRow == r)
        m_Images.bootRow = -1;
    else if (m_Images.bootRow > r)
        --m_Images.bootRow;
    m_nImageCount = m_Images.count;
    RefreshWindow();
    if (m_Images.count != 0)
        SelectAndFocusRow(0);
}

bool CTarnboxDlg::ConfirmDelete(int r)
{
    const ImageInfo &record = m_Images.records[std::size_t(r)];
    const QString name = record.name.isEmpty() ? record.displayName : record.name;
    const QString text = name.isEmpty() ? QStringLiteral("确定要删除映像 %1 吗？").arg(r + 1)
                                        : QStringLiteral("确定要删除映像 %1“%2”吗？").arg(r + 1).arg(name);
    const int answer =
        uiThread::messageBox(this, text, QStringLiteral("温馨提示"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    // The question waited for the user; only the same archive with the same row still holds that image.
    return answer == IDYES && m_hWim && r < m_Images.count && AcceptsCommands();
}

void CTarnboxDlg::SetBootImage()
{
    if (m_nAccess != 2) {
        ReportWriteRefused();
        return;
    }
    const int r = SelectedRow();
    if (r < 0 || r >= m_Images.count)
        return;
    if (!imaging().WIMSetBootImage(m_hWim.get(), uint32_t(r + 1))) {
        const ImagingError why = imaging().LastError();
        ReloadIfChangedElsewhere(why);
        reportFailure(lcOperations, this, QStringLiteral("设置为启动失败！"), QStringLiteral("错误提示"), why);
        return;
    }
    if (m_Images.bootRow != -1)
        SetRowText(m_Images.bootRow, kBootColumn, BootColumnText(false));
    m_Images.bootRow = r;
    SetRowText(r, kBootColumn, BootColumnText(true));
}

void CTarnboxDlg::EditImage()
{
    const int r = SelectedRow();
    if (r < 0 || r >= m_Images.count || RefuseWriteToSplitSet())
        return;
    const HWIM wim = m_hWim.get();
    const ImageInfo before = m_Images.records[std::size_t(r)];

    CWIM_Image_Info dialog(this);
    dialog.m_editMode = true;
    for (const EditableText &t : kEditDialog)
        dialog.*(t.member) = before.*(t.field);
    if (prompts().execDialog(dialog) != QDialog::Accepted)
        return;
    // An operation that ran while the dialog was open may have changed the
    // list; the edits belong to a state that is gone.
    if (IsBusy() || m_hWim.get() != wim || r >= m_Images.count)
        return;

    ImageInfo &record = m_Images.records[std::size_t(r)];
    ImageInfo wanted = record;
    for (const EditableText &t : kEditDialog)
        wanted.*(t.field) = dialog.*(t.member);
    const ImageTextsChange change = ChangeImageTexts(imaging(), m_hWim.get(), uint32_t(r + 1), record, wanted);
    switch (change.result) {
    case ImageTextsChange::NotRead:
        reportFailure(lcOperations, this, QStringLiteral("无法打开映像！"), QStringLiteral("错误提示"), change.why);
        return;
    case ImageTextsChange::Malformed:
        // The record and the row still show what the archive holds.
        reportFailure(lcOperations, this, QStringLiteral("映像信息格式错误，无法修改映像信息！(0x80070057)"),
                      QStringLiteral("错误提示"), QString());
        return;
    case ImageTextsChange::Refused:
        if (change.why.kind == ImagingError::Kind::ChangedOnDisk) {
            ReloadImageList();
            reportFailure(lcOperations, this, QStringLiteral("修改失败！"), QStringLiteral("错误提示"), change.why);
            return;
        }
        break;
    case ImageTextsChange::Stored: break;
    }
    // Refused: the archive kept its texts, and the row shows those, not the refused ones.
    record = change.held;
    for (const ImageText &t : kImageTexts)
        SetRowText(r, t.column, record.*(t.field));
    if (change.result == ImageTextsChange::Refused)
        reportFailure(lcOperations, this, QStringLiteral("修改失败！"), QStringLiteral("错误提示"), change.why);
    RefreshWindow();
}

void CTarnboxDlg::OnListDblClk()
{
    // A command like any other: refused while an operation is claimed.
    if (SelectedRow() >= 0)
        OnCommand(res::ID_EDIT_IMAGE);
}
