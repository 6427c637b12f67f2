#pragma once

#include "imaging/wim_dir_entry.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <QTimeZone>

#include <cstdint>
#include <vector>

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

// What one entry sorts by in every column, worked out once per listing (on
// the worker that lists): a folder may hold hundreds of thousands of
// entries, and a sort then compares numbers alone.
struct EntrySortKey {
    bool folder = false;
    uint32_t name = 0;  // its place in name order among the entries it was worked out with
    uint32_t type = 0;  // its type text's place among theirs
    int64_t modified = 0;
    uint64_t size = 0;
};

// The keys of `entries`, one per entry, in their order.
std::vector<EntrySortKey> EntrySortKeys(const QList<WimDirEntry> &entries);

// Sorts by a column, as a file manager does: folders first whatever the
// order, then by the column's value, ties by name; descending reverses each
// group, folders staying first.
void SortEntries(QList<WimDirEntry> &entries, EntryColumn column, Qt::SortOrder order);
// The same with the entries' keys (EntrySortKeys of them), sorted alike.
// Returns where each row came from: row i now holds what row result[i] held.
std::vector<qsizetype> SortEntries(QList<WimDirEntry> &entries, std::vector<EntrySortKey> &keys, EntryColumn column,
                                   Qt::SortOrder order);
