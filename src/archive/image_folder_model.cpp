#include "archive/image_folder_model.h"

#include "archive/image_path.h"

#include <set>

ImageFolderModel::ImageFolderModel(QObject *parent) : QAbstractTableModel(parent) {}

void ImageFolderModel::setFolder(const QString &folder, QList<WimDirEntry> entries, bool sorted)
{
    std::vector<EntrySortKey> keys = EntrySortKeys(entries);
    setFolder(folder, std::move(entries), std::move(keys), sorted);
}

void ImageFolderModel::setFolder(const QString &folder, QList<WimDirEntry> entries, std::vector<EntrySortKey> keys,
                                 bool sorted)
{
    if (keys.size() != size_t(entries.size()))
        keys = EntrySortKeys(entries);
    if (!sorted)
        SortEntries(entries, keys, m_sortColumn, m_sortOrder);
    beginResetModel();
    m_folder = folder;
    m_entries = std::move(entries);
    m_keys = std::move(keys);
    endResetModel();
}

void ImageFolderModel::clear()
{
    beginResetModel();
    m_folder.clear();
    m_entries.clear();
    m_keys.clear();
    endResetModel();
}

int ImageFolderModel::rowOf(const QString &name) const
{
    for (qsizetype row = 0; row < m_entries.size(); ++row) {
        if (m_entries[row].name == name)
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
        paths << JoinImagePath(m_folder, m_entries.at(row).name);
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
    const WimDirEntry &e = m_entries.at(index.row());
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
    const std::vector<qsizetype> from = SortEntries(m_entries, m_keys, m_sortColumn, m_sortOrder);
    // Selections and the current row follow their entries.
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> to(from.size());
        for (size_t row = 0; row < from.size(); ++row)
            to[size_t(from[row])] = int(row);
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex &index : before)
            after << this->index(to[size_t(index.row())], index.column());
        changePersistentIndexList(before, after);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
