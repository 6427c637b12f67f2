// The image list: loading it from the archive and showing a record as a row.
#include "app/ctarnbox_dlg.h"

#include "archive/archive_log.h"
#include "archive/image_size.h"
#include "archive/metadata_xml.h"
#include "imaging/imaging_library.h"
#include "support/error_cause.h"
#include "support/failure_report.h"
#include "support/ui_thread.h"

#include <QTableWidget>

#include <algorithm>

namespace {

constexpr int kBootColumn = 6;

}  // namespace

bool CTarnboxDlg::LoadImageList()
{
    return LoadImageList(nullptr);
}

bool CTarnboxDlg::LoadImageList(QString *cause)
{
    m_List->setRowCount(0);
    m_Images.reset();
    m_nImageCount = 0;

    WIM_INFO info{};
    if (!imaging().WIMGetAttributes(m_hWim, &info, sizeof info)) {
        const ImagingError why = imaging().LastError();
        if (cause)
            *cause = errorCause(why);
        reportFailure(lcArchive, this, QStringLiteral("无法正常获取文件信息！"), {}, why);
        return false;
    }
    m_Images.bootRow = int(info.BootIndex) - 1;
    m_nTotalParts = std::max(1, int(info.TotalParts));
    if (m_nTotalParts > 1)
        m_strAccess = QStringLiteral("仅读取（%1 个分卷）").arg(m_nTotalParts);
    m_Images.compression = qint16(info.CompressionType & 0xFFFFu);

    // Every image is read before any row is added, so a failure leaves the list empty.
    for (uint32_t i = 1; i <= info.ImageCount; ++i) {
        HWIM image = imaging().WIMLoadImage(m_hWim, i);
        QString xml;
        if (!image || !imaging().WIMGetImageInformation(image, &xml, nullptr)) {
            const ImagingError why = imaging().LastError();
            if (cause)
                *cause = errorCause(why);
            reportFailure(lcArchive, this, QStringLiteral("无法获取信息，文件打开失败！"), {}, why);
            if (image)
                imaging().WIMCloseHandle(image);
            return false;
        }
        imaging().WIMCloseHandle(image);
        // The library's text may carry a NUL terminator; the text ends there.
        const qsizetype nul = xml.indexOf(QChar(0));
        if (nul >= 0)
            xml.truncate(nul);
        if (!ReadImageInfo(xml, m_Images)) {
            reportFailure(lcArchive, this,
                          QStringLiteral("映像 %1 的信息格式错误，无法读取（错误代码 0x%2）！")
                              .arg(i)
                              .arg(kInvalidArgument, 8, 16, QLatin1Char('0')),
                          QStringLiteral("错误提示"), QString());
            return false;
        }
    }

    for (int r = 0; r < m_Images.count; ++r)
        AddImageRow(r);
    if (m_Images.bootRow != -1)
        SetRowText(m_Images.bootRow, kBootColumn, QStringLiteral("是"));
    if (m_Images.count != 0)
        SelectAndFocusRow(0);
    m_strCompression = CompressionLabel(m_Images.compression);
    ShowMounts();
    RefreshWindow();
    return true;
}

void CTarnboxDlg::AddImageRow(int r)
{
    if (r < 0 || r >= m_Images.count || r > m_List->rowCount())
        return;
    const ImageInfo &record = m_Images.records[std::size_t(r)];
    ++m_nImageCount;
    m_List->insertRow(r);
    SetRowText(r, 0, record.displayName);
    SetRowText(r, 1, record.displayDescription);
    SetRowText(r, 2, record.name);
    SetRowText(r, 3, record.description);
    SetRowText(r, 4, record.flags);
    SetRowText(r, 5, FormatImageSize(record.expandedBytes));
    SetRowText(r, kBootColumn, QStringLiteral("否"));
}

void CTarnboxDlg::AddCapturedImage(const ImageInfo &record)
{
    m_Images.append() = record;
    AddImageRow(m_Images.count - 1);
    RefreshWindow();
}

void CTarnboxDlg::SetRowText(int row, int column, const QString &text)
{
    if (row < 0 || row >= m_List->rowCount())
        return;
    QTableWidgetItem *item = m_List->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        m_List->setItem(row, column, item);
    }
    item->setText(text);
}
