#pragma once

#include "archive/image_entries.h"
#include "imaging/wim_dir_entry.h"

#include <QAbstractTableModel>
#include <QList>
#include <QModelIndexList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <vector>

// The entries of one folder of an image as the browse dialog's file list
// shows them: one row per entry, the columns of EntryColumn, sorted as the
// view asks (sort()) or already sorted by whoever listed them (a worker).
// Each entry's sort key comes with it (worked out by the worker), so that a
// sort on the UI thread compares numbers alone. No widgets: the dialog adds
// the icons.
class ImageFolderModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role {
        EntryTypeRole = Qt::UserRole + 1,  // int(WimDirEntry::Type)
        PathRole,                          // the entry's path in the image
    };

    explicit ImageFolderModel(QObject *parent = nullptr);

    // Shows the entries of `folder`; `sorted` says they are in the model's
    // sort order already (sortColumn(), sortOrder()), else the model sorts them.
    void setFolder(const QString &folder, QList<WimDirEntry> entries, bool sorted = false);
    // The same with the entries' keys (EntrySortKeys of `entries`).
    void setFolder(const QString &folder, QList<WimDirEntry> entries, std::vector<EntrySortKey> keys, bool sorted);
    // No folder at all (the dialog is loading its first one).
    void clear();
    QString folder() const { return m_folder; }
    const WimDirEntry &entry(int row) const { return m_entries.at(row); }
    const QList<WimDirEntry> &entries() const { return m_entries; }
    // The row of the entry called `name`, or -1.
    int rowOf(const QString &name) const;
    // The image paths of the rows of `indexes`, each row once, top to bottom.
    QStringList pathsOf(const QModelIndexList &indexes) const;

    EntryColumn sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    // The zone the times are shown in (the system's by default).
    void setTimeZone(const QTimeZone &zone);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    QString m_folder;
    QList<WimDirEntry> m_entries;
    std::vector<EntrySortKey> m_keys;  // one per entry
    EntryColumn m_sortColumn = EntryColumn::Name;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QTimeZone m_zone = QTimeZone::systemTimeZone();
};
