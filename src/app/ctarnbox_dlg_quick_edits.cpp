// Deleting an image, marking the boot image and editing an image's texts.
#include "app/ctarnbox_dlg.h"

#include "archive/metadata_xml.h"
#include "capture_settings/cwim_image_info.h"
#include "imaging/imaging_library.h"
#include "operations/operations_log.h"
#include "resources/resource_ids.h"
#include "support/failure_report.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QTableWidget>

namespace {

constexpr int kBootColumn = 6;

// One editable text: its record field, list column, dialog member and element.
struct EditableText {
    QString ImageInfo::*field;
    int column;
    QString CWIM_Image_Info::*member;
    MetadataTag tag;
};

// In the order the texts are written into the metadata.
constexpr EditableText kEditOrder[] = {
    {&ImageInfo::description, 3, &CWIM_Image_Info::m_imageDescription, MetadataTag::Description},
    {&ImageInfo::name, 2, &CWIM_Image_Info::m_imageName, MetadataTag::Name},
    {&ImageInfo::flags, 4, &CWIM_Image_Info::m_systemFlag, MetadataTag::Flags},
    {&ImageInfo::displayDescription, 1, &CWIM_Image_Info::m_displayDescription, MetadataTag::DisplayDescription},
    {&ImageInfo::displayName, 0, &CWIM_Image_Info::m_displayName, MetadataTag::DisplayName},
};

// The library's text may carry its terminating zero; the text ends there.
void cutAtNul(QString &xml)
{
    const qsizetype nul = xml.indexOf(QChar(0));
    if (nul >= 0)
        xml.truncate(nul);
}

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
        SetRowText(m_Images.bootRow, kBootColumn, QStringLiteral("否"));
    m_Images.bootRow = r;
    SetRowText(r, kBootColumn, QStringLiteral("是"));
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
    for (const EditableText &t : kEditOrder)
        dialog.*(t.member) = before.*(t.field);
    if (prompts().execDialog(dialog) != QDialog::Accepted)
        return;
    // An operation that ran while the dialog was open may have changed the
    // list; the edits belong to a state that is gone.
    if (IsBusy() || m_hWim.get() != wim || r >= m_Images.count)
        return;

    ImagingLibrary &lib = imaging();
    WimHandle image(lib, lib.WIMLoadImage(m_hWim.get(), uint32_t(r + 1)));
    if (!image) {
        reportFailure(lcOperations, this, QStringLiteral("无法打开映像！"), QStringLiteral("错误提示"),
                      lib.LastError());
        return;
    }
    QString xml;
    uint32_t bytes = 0;
    if (!lib.WIMGetImageInformation(image.get(), &xml, &bytes)) {
        const ImagingError why = lib.LastError();
        image.close();
        reportFailure(lcOperations, this, QStringLiteral("无法打开映像！"), QStringLiteral("错误提示"), why);
        return;
    }
    cutAtNul(xml);

    // The new text is made whole before the record and the row change, so an
    // unclosed value leaves them showing what the archive still holds.
    ImageInfo &record = m_Images.records[std::size_t(r)];
    ImageInfo edited = record;
    for (const EditableText &t : kEditOrder) {
        const QString &value = dialog.*(t.member);
        if (value == record.*(t.field))
            continue;
        edited.*(t.field) = value;
        if (!SetMetadataTag(xml, value, t.tag)) {
            image.close();
            reportFailure(lcOperations, this, QStringLiteral("映像信息格式错误，无法修改映像信息！(0x80070057)"),
                          QStringLiteral("错误提示"), QString());
            return;
        }
    }
    auto showTexts = [this, r](const ImageInfo &texts) {
        for (const EditableText &t : kEditOrder)
            SetRowText(r, t.column, texts.*(t.field));
    };
    record = edited;
    showTexts(record);

    if (!lib.WIMSetImageInformation(image.get(), xml, uint32_t(xml.size() * 2))) {
        // Before the read-back below, which is a call of its own.
        const ImagingError why = lib.LastError();
        if (why.kind == ImagingError::Kind::ChangedOnDisk) {
            image.close();
            record = before;  // the image to keep selected, as it was
            ReloadImageList();
            reportFailure(lcOperations, this, QStringLiteral("修改失败！"), QStringLiteral("错误提示"), why);
            return;
        }
        // The archive kept its texts: show those, not the refused ones.
        QString stored;
        ImageTable fresh;
        bool readBack = lib.WIMGetImageInformation(image.get(), &stored, nullptr);
        if (readBack) {
            cutAtNul(stored);
            readBack = ReadImageInfo(stored, fresh);
        }
        if (readBack) {
            const ImageInfo &held = fresh.records[0];
            for (const EditableText &t : kEditOrder)
                record.*(t.field) = held.*(t.field);
        } else {
            for (const EditableText &t : kEditOrder)
                record.*(t.field) = before.*(t.field);
        }
        showTexts(record);
        reportFailure(lcOperations, this, QStringLiteral("修改失败！"), QStringLiteral("错误提示"), why);
    }
    image.close();
    RefreshWindow();
}

void CTarnboxDlg::OnListDblClk()
{
    // A command like any other: refused while an operation is claimed.
    if (SelectedRow() >= 0)
        OnCommand(res::ID_EDIT_IMAGE);
}
