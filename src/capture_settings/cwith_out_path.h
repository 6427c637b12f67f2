#pragma once

#include "capture_settings/exclusion_list.h"

#include <QDialog>

class QMenu;
class QTableWidget;

// The exclusion list dialog (template 105). It edits the list in place: every
// add and remove takes effect at once, whichever way the dialog is closed.
// Row i of the list always shows entry i.
class CWithOutPath : public QDialog
{
    Q_OBJECT

public:
    explicit CWithOutPath(QWidget *parent = nullptr, ExclusionList &list = exclusionList());

    // The focused row when it is also selected, or -1.
    int SelectedEntry() const;
    // The pop-up of menu 132 a right click shows now: 0 with a selected entry, 1 without.
    int PopupIndex() const;
    // Builds that pop-up; its items run OnCommand. The caller owns it.
    QMenu *CreateContextMenu();
    void OnCommand(int command);

    void OnAddFolder();
    void OnAddFile();
    void OnRemove();

    QTableWidget *m_List = nullptr;  // IDC_EXCLUSION_LIST

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void addEntry(const QString &entry);
    void appendRow(const QString &text);

    ExclusionList &m_entries;
};
