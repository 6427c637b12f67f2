#pragma once

#include "archive/image_entries.h"
#include "imaging/wim_dir_entry.h"

#include <QAbstractTableModel>
#include <QList>
#include <QModelIndexList>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

// The entries of one folder of an image as the browse dialog's file list
// shows them: one row per entry, the columns of EntryColumn, sorted as the
// view asks (sort()) or already sorted by whoever listed them (a worker).
// The entries' orders by every column come with them (worked out by the
// worker), so that a sort on the UI thread only picks one. No widgets: the
// dialog adds the icons.
class ImageFolderModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role {
        EntryTypeRole = Qt::UserRole + 1,  // int(WimDirEntry::Type)
        PathRole,                          // the entry's path in the image
    };

    explicit ImageFolderModel(QObject *parent = nullptr);
    ~ImageFolderModel() override;

    // Where what a shown folder held goes when another folder replaces it or
    // the model ends: `dispose` receives the last reference, to free it
    // elsewhere (200,000 entries take the UI thread 20 ms to free). By
    // default it is freed at once.
    void setDisposal(std::function<void(std::shared_ptr<const void>)> dispose) { m_dispose = std::move(dispose); }

    // Shows the entries of `folder`; `sorted` says they are in the model's
    // sort order already (sortColumn(), sortOrder()), else the model sorts them.
    void setFolder(const QString &folder, QList<WimDirEntry> entries, bool sorted = false);
    // The same with the entries' orders (EntryOrders of `entries`), in the model's sort order.
    void setFolder(const QString &folder, QList<WimDirEntry> entries, EntryOrders orders);
    // No folder at all (the dialog is loading its first one).
    void clear();
    QString folder() const { return m_folder; }
    const WimDirEntry &entry(int row) const { return m_entries.at(m_rows.at(size_t(row))); }
    // Every entry shown, in no particular order.
    const QList<WimDirEntry> &entries() const { return m_entries; }
    // The row of the entry called `name`, or -1.
    int rowOf(const QString &name) const;
    // The image paths of the rows of `indexes`, each row once, top to bottom.
    QStringList pathsOf(const QModelIndexList &indexes) const;

    EntryColumn sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    // What the first column shows beside the entries of a type (an icon;
    // nothing by default).
    void setDecoration(WimDirEntry::Type type, const QVariant &decoration) { m_decorations[int(type)] = decoration; }
    // The zone the times are shown in (the system's by default).
    void setTimeZone(const QTimeZone &zone);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    QString m_folder;
    void show(const QString &folder, QList<WimDirEntry> entries, EntryOrders orders, std::vector<uint32_t> rows);
    void disposeShown();

    QList<WimDirEntry> m_entries;  // as listed
    EntryOrders m_orders;
    std::vector<uint32_t> m_rows;  // of each row, its entry
    std::function<void(std::shared_ptr<const void>)> m_dispose;
    QVariant m_decorations[3];  // by WimDirEntry::Type
    EntryColumn m_sortColumn = EntryColumn::Name;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QTimeZone m_zone = QTimeZone::systemTimeZone();
};
