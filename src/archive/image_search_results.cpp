#include "archive/image_search_results.h"

#include "archive/image_entries.h"
#include "archive/image_path.h"

void ImageSearchResults::clear()
{
    beginResetModel();
    m_found.clear();
    endResetModel();
}

void ImageSearchResults::append(const QList<WimDirEntry> &found)
{
    if (found.isEmpty())
        return;
    beginInsertRows({}, int(m_found.size()), int(m_found.size() + found.size() - 1));
    m_found.append(found);
    endInsertRows();
}

int ImageSearchResults::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_found.size());
}

int ImageSearchResults::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count;
}

QVariant ImageSearchResults::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_found.size())
        return {};
    const WimDirEntry &e = m_found.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Name: return e.name;
        case Folder: return ParentImagePath(e.path);
        case Size: return EntrySizeText(e);
        case Modified: return EntryTimeText(e, m_zone);
        default: return {};
        }
    case Qt::DecorationRole: return index.column() == Name ? m_decorations[int(e.type)] : QVariant();
    case Qt::ToolTipRole: return e.path;
    case PathRole: return e.path;
    default: return {};
    }
}

QVariant ImageSearchResults::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Name: return EntryColumnHeading(EntryColumn::Name);
    case Folder: return QStringLiteral("所在文件夹");
    case Size: return EntryColumnHeading(EntryColumn::Size);
    case Modified: return EntryColumnHeading(EntryColumn::Modified);
    default: return {};
    }
}
