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

// What one entry sorts by in every column, worked out once per listing.
struct EntrySortKey {
    bool folder = false;
    uint32_t name = 0;  // its place in name order among the entries it was worked out with
    uint32_t type = 0;  // its type text's place among theirs
    int64_t modified = 0;
    uint64_t size = 0;
};

// The keys of `entries`, one per entry, in their order.
std::vector<EntrySortKey> EntrySortKeys(const QList<WimDirEntry> &entries);

// The order of a folder's entries by each column, worked out once per
// listing (on the worker that lists): a folder may hold hundreds of
// thousands of entries, and a click on a heading then only picks an order,
// as a file manager sorts: folders first whatever the order, then by the
// column's value, ties by name; descending reverses each group, folders
// staying first, and entries equal in all of it keep their listed order.
class EntryOrders
{
public:
    EntryOrders() = default;
    explicit EntryOrders(const QList<WimDirEntry> &entries);

    // How many entries it orders.
    size_t size() const { return m_keys.size(); }
    // The entries' indexes (in the list it was made of), top to bottom.
    std::vector<uint32_t> rows(EntryColumn column, Qt::SortOrder order) const;

private:
    std::vector<EntrySortKey> m_keys;
    std::vector<uint32_t> m_ascending[int(EntryColumn::Count)];
    size_t m_folders = 0;
};

// Sorts `entries` as EntryOrders orders them.
void SortEntries(QList<WimDirEntry> &entries, EntryColumn column, Qt::SortOrder order);
