#include "archive/selected_rows.h"

#include <QAbstractItemModel>

#include <algorithm>
#include <utility>

namespace {

// The row spans of `selection` that hold column 0, merged where they meet
// (a selection keeps its ranges apart, but nothing promises it).
std::vector<std::pair<int, int>> spansOf(const QItemSelection &selection)
{
    std::vector<std::pair<int, int>> spans;
    spans.reserve(size_t(selection.size()));
    for (const QItemSelectionRange &range : selection) {
        if (range.isValid() && range.left() == 0 && !range.parent().isValid())
            spans.emplace_back(range.top(), range.bottom());
    }
    std::sort(spans.begin(), spans.end());
    size_t merged = 0;
    for (const auto &span : spans) {
        if (merged > 0 && span.first <= spans[merged - 1].second + 1)
            spans[merged - 1].second = std::max(spans[merged - 1].second, span.second);
        else
            spans[merged++] = span;
    }
    spans.resize(merged);
    return spans;
}

int rowsIn(const QItemSelection &selection)
{
    int rows = 0;
    for (const auto &[top, bottom] : spansOf(selection))
        rows += bottom - top + 1;
    return rows;
}

}  // namespace

std::vector<int> SelectedRows(const QItemSelection &selection)
{
    std::vector<int> rows;
    for (const auto &[top, bottom] : spansOf(selection)) {
        for (int row = top; row <= bottom; ++row)
            rows.push_back(row);
    }
    return rows;
}

SelectedRowCount::SelectedRowCount(QItemSelectionModel *selection) : QObject(selection), m_selection(selection)
{
    // Changes reported as such arrive as deltas: what was selected before is
    // never in `selected`, what stays selected never in `deselected`.
    connect(selection, &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                m_count += rowsIn(selected) - rowsIn(deselected);
            });
    connect(selection, &QItemSelectionModel::modelChanged, this, [this] {
        connectModel();
        recount();
    });
    connectModel();
    recount();
}

void SelectedRowCount::connectModel()
{
    for (const QMetaObject::Connection &c : {m_reset, m_inserted, m_removed})
        disconnect(c);
    const QAbstractItemModel *model = m_selection->model();
    if (!model)
        return;
    // Connected after the selection model's own handlers: they run first.
    m_reset = connect(model, &QAbstractItemModel::modelReset, this, &SelectedRowCount::recount);
    m_inserted = connect(model, &QAbstractItemModel::rowsInserted, this, &SelectedRowCount::recount);
    m_removed = connect(model, &QAbstractItemModel::rowsRemoved, this, &SelectedRowCount::recount);
}

void SelectedRowCount::recount()
{
    m_count = rowsIn(m_selection->selection());
}
