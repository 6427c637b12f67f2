// The image list: loading it from the archive and showing a record as a row.
#include "app/ctarnbox_dlg.h"

#include <QTableWidget>

bool CTarnboxDlg::LoadImageList() { return false; }
void CTarnboxDlg::AddImageRow(int) {}

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
