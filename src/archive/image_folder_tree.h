#pragma once

#include "imaging/wim_dir_entry.h"

#include <QAbstractItemModel>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

// The folders of an image as the browse dialog's tree shows them, filled in
// as they are listed: the root, whose label is the image's name, and below
// each listed folder its subfolders in name order. A folder not listed yet
// shows that it may hold some; expanding it asks for its listing
// (subfoldersNeeded), once. No widgets, no library calls.
class ImageFolderTree : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit ImageFolderTree(const QString &rootLabel, QObject *parent = nullptr);
    ~ImageFolderTree() override;

    // Takes the folders among `children`, the listing of the folder `path`.
    // A path not in the tree (its parent not listed yet) is ignored; a folder
    // listed again keeps its branch unless its folders changed.
    void setSubfolders(const QString &path, const QList<WimDirEntry> &children);
    // The item of the folder `path`, or an invalid index when the tree does not hold it yet.
    QModelIndex indexOf(const QString &path) const;
    static QString pathOf(const QModelIndex &index);
    bool isListed(const QString &path) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    void subfoldersNeeded(const QString &path);

private:
    struct Node {
        QString name;
        QString path;
        Node *parent = nullptr;
        int row = 0;
        bool listed = false;
        bool asked = false;
        std::vector<std::unique_ptr<Node>> children;
    };

    Node *nodeOf(const QModelIndex &index) const;
    Node *find(const QString &path) const;
    QModelIndex indexOfNode(Node *node) const;

    std::unique_ptr<Node> m_root;
};
