#pragma once

#include "imaging/wim_dir_entry.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTimeZone>
#include <QVariant>

// What a find in the whole image has found so far, in the order the walk
// found it: name, folder, size, modified. Grows as results come in. No
// widgets: the dialog gives the icons.
class ImageSearchResults : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Name, Folder, Size, Modified, Count };
    enum Role { PathRole = Qt::UserRole + 1 };

    using QAbstractTableModel::QAbstractTableModel;

    void clear();
    void append(const QList<WimDirEntry> &found);
    const WimDirEntry &entry(int row) const { return m_found.at(row); }
    void setDecoration(WimDirEntry::Type type, const QVariant &decoration) { m_decorations[int(type)] = decoration; }
    void setTimeZone(const QTimeZone &zone) { m_zone = zone; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<WimDirEntry> m_found;
    QVariant m_decorations[3];
    QTimeZone m_zone = QTimeZone::systemTimeZone();
};
