#pragma once

#include "imaging/wim_dir_entry.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <QTimeZone>

// An image's entries as the browse dialog lists them: the texts of the
// columns and the order they sort in.

// The columns of the file list, in order.
enum class EntryColumn { Name, Size, Modified, Type, Count };

// The heading of a column: "名称", "大小", "修改时间", "类型".
QString EntryColumnHeading(EntryColumn column);

// A file's size: bytes below 1 KB ("512字节"), else as the image list shows
// sizes ("12.05MB"); "" for folders and links, which hold no data.
QString EntrySizeText(const WimDirEntry &entry);

// The last write time in `zone` as "yyyy/MM/dd HH:mm"; "" when unknown.
QString EntryTimeText(const WimDirEntry &entry, const QTimeZone &zone);

// "文件夹", "链接", or for a file its extension in capitals and "文件"
// ("TXT 文件"), "文件" alone when it has none (".profile" has none).
QString EntryTypeText(const WimDirEntry &entry);

// Names compared as people read them: letters without regard to case, runs
// of digits by their value ("file2" before "file10"); names equal so far are
// then told apart exactly, so only equal names compare equal. <0, 0 or >0.
int CompareEntryNames(QStringView a, QStringView b);

// Sorts by a column, as a file manager does: folders first whatever the
// order, then by the column's value, ties by name; descending reverses each
// group, folders staying first.
void SortEntries(QList<WimDirEntry> &entries, EntryColumn column, Qt::SortOrder order);
