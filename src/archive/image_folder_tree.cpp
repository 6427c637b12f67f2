#include "archive/image_folder_tree.h"

#include "archive/image_entries.h"
#include "archive/image_path.h"

#include <algorithm>

ImageFolderTree::ImageFolderTree(const QString &rootLabel, QObject *parent)
    : QAbstractItemModel(parent), m_root(std::make_unique<Node>())
{
    m_root->name = rootLabel;
    m_root->path = QStringLiteral("/");
}

ImageFolderTree::~ImageFolderTree() = default;

ImageFolderTree::Node *ImageFolderTree::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : nullptr;
}

ImageFolderTree::Node *ImageFolderTree::find(const QString &path) const
{
    Node *node = m_root.get();
    const QStringList chain = ImagePathChain(path);
    for (qsizetype i = 1; i < chain.size() && node; ++i) {
        const auto it = std::find_if(node->children.begin(), node->children.end(),
                                     [&](const auto &child) { return child->path == chain[i]; });
        node = it == node->children.end() ? nullptr : it->get();
    }
    return node;
}

QModelIndex ImageFolderTree::indexOfNode(Node *node) const
{
    return node ? createIndex(node->row, 0, node) : QModelIndex();
}

void ImageFolderTree::setSubfolders(const QString &path, const QList<WimDirEntry> &children)
{
    Node *node = find(path);
    if (!node)
        return;
    QList<WimDirEntry> folders;
    for (const WimDirEntry &entry : children) {
        if (entry.type == WimDirEntry::Type::Folder)
            folders << entry;
    }
    SortEntries(folders, EntryColumn::Name, Qt::AscendingOrder);
    // Listed again with the same folders (the list shows it once more): the
    // branch stays as the user opened it.
    if (node->listed
        && std::equal(folders.begin(), folders.end(), node->children.begin(), node->children.end(),
                      [](const WimDirEntry &e, const auto &child) { return e.name == child->name; }))
        return;

    const QModelIndex parentIndex = indexOfNode(node);
    if (!node->children.empty()) {
        beginRemoveRows(parentIndex, 0, int(node->children.size()) - 1);
        node->children.clear();
        endRemoveRows();
    }
    node->listed = true;
    if (!folders.isEmpty()) {
        beginInsertRows(parentIndex, 0, int(folders.size()) - 1);
        for (const WimDirEntry &folder : folders) {
            auto child = std::make_unique<Node>();
            child->name = folder.name;
            child->path = JoinImagePath(node->path, folder.name);
            child->parent = node;
            child->row = int(node->children.size());
            node->children.push_back(std::move(child));
        }
        endInsertRows();
    }
    // A view keeps the expander it drew for a folder not listed yet until
    // its layout is redone.
    if (folders.isEmpty()) {
        emit layoutAboutToBeChanged();
        emit layoutChanged();
    }
}

QModelIndex ImageFolderTree::indexOf(const QString &path) const
{
    return indexOfNode(find(path));
}

QString ImageFolderTree::pathOf(const QModelIndex &index)
{
    const auto *node = index.isValid() ? static_cast<const Node *>(index.internalPointer()) : nullptr;
    return node ? node->path : QString();
}

bool ImageFolderTree::isListed(const QString &path) const
{
    const Node *node = find(path);
    return node && node->listed;
}

QModelIndex ImageFolderTree::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? indexOfNode(m_root.get()) : QModelIndex();
    const Node *node = nodeOf(parent);
    if (row >= int(node->children.size()))
        return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex ImageFolderTree::parent(const QModelIndex &child) const
{
    const Node *node = nodeOf(child);
    return node ? indexOfNode(node->parent) : QModelIndex();
}

int ImageFolderTree::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return 1;
    return int(nodeOf(parent)->children.size());
}

int ImageFolderTree::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant ImageFolderTree::data(const QModelIndex &index, int role) const
{
    const Node *node = nodeOf(index);
    if (!node)
        return {};
    if (role == Qt::DisplayRole)
        return node->name;
    if (role == Qt::ToolTipRole)
        return node->path;
    return {};
}

bool ImageFolderTree::hasChildren(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return true;
    const Node *node = nodeOf(parent);
    return !node->listed || !node->children.empty();
}

bool ImageFolderTree::canFetchMore(const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    return node && !node->listed && !node->asked;
}

void ImageFolderTree::fetchMore(const QModelIndex &parent)
{
    Node *node = nodeOf(parent);
    if (!node || node->listed || node->asked)
        return;
    node->asked = true;
    emit subfoldersNeeded(node->path);
}
