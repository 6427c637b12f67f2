// The image list: loading it from the archive and showing a record as a row.
#include "app/ctarnbox_dlg.h"

#include "archive/archive_log.h"
#include "archive/image_size.h"
#include "archive/image_table_read.h"
#include "archive/image_texts.h"
#include "archive/metadata_xml.h"
#include "imaging/imaging_library.h"
#include "support/error_cause.h"
#include "support/failure_report.h"
#include "support/ui_thread.h"

#include <QTableWidget>

#include <algorithm>

bool CTarnboxDlg::LoadImageList()
{
    return LoadImageList(nullptr);
}

bool CTarnboxDlg::LoadImageList(QString *cause)
{
    m_List->setRowCount(0);
    m_nImageCount = 0;
    // Every image is read before any row is added, so a failure leaves the list empty.
    const ImageTableRead read = ReadImageTable(imaging(), m_hWim.get(), m_Images);
    if (read.result != ImageTableRead::AttributesNotRead) {
        m_nTotalParts = read.totalParts;
        if (m_nTotalParts > 1)
            m_strAccess = QStringLiteral("仅读取（%1 个分卷）").arg(m_nTotalParts);
    }
    switch (read.result) {
    case ImageTableRead::AttributesNotRead:
    case ImageTableRead::ImageNotRead:
        if (cause)
            *cause = errorCause(read.why);
        reportFailure(lcArchive, this,
                      read.result == ImageTableRead::AttributesNotRead ? QStringLiteral("无法正常获取文件信息！")
                                                                       : QStringLiteral("无法获取信息，文件打开失败！"),
                      {}, read.why);
        return false;
    case ImageTableRead::ImageMalformed:
        reportFailure(lcArchive, this,
                      QStringLiteral("映像 %1 的信息格式错误，无法读取（错误代码 0x%2）！")
                          .arg(read.image)
                          .arg(kInvalidArgument, 8, 16, QLatin1Char('0')),
                      QStringLiteral("错误提示"), QString());
        return false;
    case ImageTableRead::Read: break;
    }

    for (int r = 0; r < m_Images.count; ++r)
        AddImageRow(r);
    if (m_Images.bootRow != -1)
        SetRowText(m_Images.bootRow, kBootColumn, BootColumnText(true));
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
    for (const ImageText &t : kImageTexts)
        SetRowText(r, t.column, record.*(t.field));
    SetRowText(r, kSizeColumn, FormatImageSize(record.expandedBytes));
    SetRowText(r, kBootColumn, BootColumnText(false));
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
