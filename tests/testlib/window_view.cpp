#include "window_view.h"

#include "app/ctarnbox_dlg.h"
#include "imaging/imaging_library.h"
#include "recording_prompts.h"

#include <QLabel>
#include <QTableWidget>

namespace windowview {

QString labelText(const QWidget &window, const char *name)
{
    auto *label = window.findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

QStringList rows(const CTarnboxDlg &dlg)
{
    QStringList out;
    for (int r = 0; r < dlg.m_List->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < dlg.m_List->columnCount(); ++c) {
            const QTableWidgetItem *item = dlg.m_List->item(r, c);
            cells << (item ? item->text() : QStringLiteral("<none>"));
        }
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QStringList status(const CTarnboxDlg &dlg)
{
    return {labelText(dlg, "IDC_1003"), labelText(dlg, "IDC_1004"), labelText(dlg, "IDC_1005"),
            labelText(dlg, "IDC_1006"), labelText(dlg, "IDC_1008")};
}

QStringList dialogsRun(const RecordingPrompts &prompts)
{
    QStringList out;
    for (const auto &call : prompts.calls()) {
        if (call.kind == RecordingPrompts::Kind::Dialog)
            out << call.text;
    }
    return out;
}

void closeArchive(CTarnboxDlg &dlg)
{
    dlg.m_hWim.close();
}

}  // namespace windowview
