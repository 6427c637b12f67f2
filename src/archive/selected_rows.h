#pragma once

#include <QItemSelection>
#include <QItemSelectionModel>
#include <QObject>

#include <vector>

// The rows of a flat list's selection, from its ranges rather than row by
// row (QItemSelectionModel::selectedRows() looks at every row and column of
// it: 140 ms for a select-all of 200,000 rows). A row counts when its first
// column is selected, as in a list that selects whole rows.

// The rows `selection` covers, each once, top to bottom.
std::vector<int> SelectedRows(const QItemSelection &selection);

// How many rows a selection model holds, kept up to date from its changes:
// selecting or deselecting costs the ranges that changed, never the rows.
// Resets, insertions and removals (which change the selection without
// saying so) count its ranges again. Lives as long as the selection model
// (its child).
class SelectedRowCount : public QObject
{
    Q_OBJECT

public:
    explicit SelectedRowCount(QItemSelectionModel *selection);
    int count() const { return m_count; }

private:
    void connectModel();
    void recount();

    QItemSelectionModel *const m_selection;
    QMetaObject::Connection m_reset, m_inserted, m_removed;
    int m_count = 0;
};
