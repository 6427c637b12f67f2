#include "archive/image_folder_model.h"

#include "archive/image_path.h"

#include <set>

ImageFolderModel::ImageFolderModel(QObject *parent) : QAbstractTableModel(parent) {}

ImageFolderModel::~ImageFolderModel()
{
    disposeShown();
}

void ImageFolderModel::disposeShown()
{
    struct Shown {
        QList<WimDirEntry> entries;
        EntryOrders orders;
        std::vector<uint32_t> rows;
    };
    auto shown = std::make_shared<Shown>(Shown{std::move(m_entries), std::move(m_orders), std::move(m_rows)});
    m_entries = {};
    m_orders = {};
    m_rows = {};
    if (m_dispose)
        m_dispose(std::move(shown));
}

void ImageFolderModel::setFolder(const QString &folder, QList<WimDirEntry> entries, bool sorted)
{
    EntryOrders orders(entries);
    std::vector<uint32_t> rows;
    if (sorted) {
        rows.resize(size_t(entries.size()));
        for (size_t i = 0; i < rows.size(); ++i)
            rows[i] = uint32_t(i);
    } else {
        rows = orders.rows(m_sortColumn, m_sortOrder);
    }
    show(folder, std::move(entries), std::move(orders), std::move(rows));
}

void ImageFolderModel::setFolder(const QString &folder, QList<WimDirEntry> entries, EntryOrders orders)
{
    if (orders.size() != size_t(entries.size()))
        orders = EntryOrders(entries);
    std::vector<uint32_t> rows = orders.rows(m_sortColumn, m_sortOrder);
    show(folder, std::move(entries), std::move(orders), std::move(rows));
}

void ImageFolderModel::show(const QString &folder, QList<WimDirEntry> entries, EntryOrders orders,
                            std::vector<uint32_t> rows)
{
    beginResetModel();
    disposeShown();
    m_folder = folder;
    m_entries = std::move(entries);
    m_orders = std::move(orders);
    m_rows = std::move(rows);
    endResetModel();
}

void ImageFolderModel::clear()
{
    show({}, {}, {}, {});
}

int ImageFolderModel::rowOf(const QString &name) const
{
    for (size_t row = 0; row < m_rows.size(); ++row) {
        if (m_entries[m_rows[row]].name == name)
            return int(row);
    }
    return -1;
}

QStringList ImageFolderModel::pathsOf(const QModelIndexList &indexes) const
{
    std::set<int> rows;
    for (const QModelIndex &index : indexes) {
        if (index.isValid() && index.model() == this)
            rows.insert(index.row());
    }
    QStringList paths;
    for (int row : rows)
        paths << JoinImagePath(m_folder, entry(row).name);
    return paths;
}

void ImageFolderModel::setTimeZone(const QTimeZone &zone)
{
    m_zone = zone;
    if (!m_entries.isEmpty())
        emit dataChanged(index(0, int(EntryColumn::Modified)), index(rowCount() - 1, int(EntryColumn::Modified)));
}

int ImageFolderModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int ImageFolderModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(EntryColumn::Count);
}

QVariant ImageFolderModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const WimDirEntry &e = entry(index.row());
    const auto column = EntryColumn(index.column());
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case EntryColumn::Name: return e.name;
        case EntryColumn::Size: return EntrySizeText(e);
        case EntryColumn::Modified: return EntryTimeText(e, m_zone);
        case EntryColumn::Type: return EntryTypeText(e);
        case EntryColumn::Count: break;
        }
        return {};
    case Qt::DecorationRole:
        if (column == EntryColumn::Name)
            return m_decorations[int(e.type)];
        return {};
    case Qt::ToolTipRole:
        // Where a link points is nowhere else to be seen.
        if (column == EntryColumn::Name && e.type == WimDirEntry::Type::Link && !e.linkTarget.isEmpty())
            return QStringLiteral("%1 → %2").arg(e.name, e.linkTarget);
        return {};
    case Qt::TextAlignmentRole:
        if (column == EntryColumn::Size)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case EntryTypeRole: return int(e.type);
    case PathRole: return JoinImagePath(m_folder, e.name);
    default: return {};
    }
}

QVariant ImageFolderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= int(EntryColumn::Count))
        return {};
    if (role == Qt::DisplayRole)
        return EntryColumnHeading(EntryColumn(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void ImageFolderModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= int(EntryColumn::Count))
        return;
    m_sortColumn = EntryColumn(column);
    m_sortOrder = order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<uint32_t> rows = m_orders.rows(m_sortColumn, m_sortOrder);
    // Selections and the current row follow their entries.
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> rowOfEntry(rows.size());
        for (size_t row = 0; row < rows.size(); ++row)
            rowOfEntry[rows[row]] = int(row);
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex &index : before)
            after << this->index(rowOfEntry[m_rows[size_t(index.row())]], index.column());
        changePersistentIndexList(before, after);
    }
    m_rows = std::move(rows);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
