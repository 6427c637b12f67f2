#include "archive/image_entries.h"

#include "archive/image_size.h"

#include <algorithm>
#include <vector>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

template <class T>
int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A name as a text whose plain order is the order people read names in:
// letters case-folded; each run of digits as "0", a character for its length
// without leading zeros, then those digits, so that a longer number sorts
// after a shorter one and numbers of one length by their digits. "0" keeps
// the run where a digit stands among other characters.
QString nameKey(QStringView name)
{
    QString key;
    key.reserve(name.size() + 4);
    for (qsizetype i = 0; i < name.size();) {
        if (!isDigit(name[i])) {
            key += name[i].toCaseFolded();
            ++i;
            continue;
        }
        while (i < name.size() && name[i] == QLatin1Char('0'))
            ++i;
        const qsizetype start = i;
        while (i < name.size() && isDigit(name[i]))
            ++i;
        key += QLatin1Char('0');
        key += QChar(char16_t(0x30 + std::min<qsizetype>(i - start, 0xF000)));
        key += name.mid(start, i - start);
    }
    return key;
}

// What one entry sorts by, worked out once per sort rather than once per
// comparison: a folder may hold tens of thousands of entries.
struct SortKey {
    bool folder;
    QString name;
    QString type;
    qint64 modified;
};

int compareBy(const WimDirEntry &a, const WimDirEntry &b, const SortKey &ka, const SortKey &kb, EntryColumn column)
{
    switch (column) {
    case EntryColumn::Size: return threeWay(a.size, b.size);
    case EntryColumn::Modified: return threeWay(ka.modified, kb.modified);
    case EntryColumn::Type: return ka.type.compare(kb.type);
    case EntryColumn::Name:
    case EntryColumn::Count: break;
    }
    return 0;
}

}  // namespace

QString EntryColumnHeading(EntryColumn column)
{
    switch (column) {
    case EntryColumn::Name: return QStringLiteral("名称");
    case EntryColumn::Size: return QStringLiteral("大小");
    case EntryColumn::Modified: return QStringLiteral("修改时间");
    case EntryColumn::Type: return QStringLiteral("类型");
    case EntryColumn::Count: break;
    }
    return {};
}

QString EntrySizeText(const WimDirEntry &entry)
{
    if (entry.type != WimDirEntry::Type::File)
        return {};
    if (entry.size < 1024)
        return QStringLiteral("%1字节").arg(entry.size);
    return FormatImageSize(entry.size);
}

QString EntryTimeText(const WimDirEntry &entry, const QTimeZone &zone)
{
    if (!entry.modified.isValid())
        return {};
    return entry.modified.toTimeZone(zone).toString(QStringLiteral("yyyy/MM/dd HH:mm"));
}

QString EntryTypeText(const WimDirEntry &entry)
{
    switch (entry.type) {
    case WimDirEntry::Type::Folder: return QStringLiteral("文件夹");
    case WimDirEntry::Type::Link: return QStringLiteral("链接");
    case WimDirEntry::Type::File: break;
    }
    const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == entry.name.size() - 1)
        return QStringLiteral("文件");
    return entry.name.mid(dot + 1).toUpper() + QStringLiteral(" 文件");
}

int CompareEntryNames(QStringView a, QStringView b)
{
    if (const int c = nameKey(a).compare(nameKey(b)))
        return c;
    return a.compare(b);
}

void SortEntries(QList<WimDirEntry> &entries, EntryColumn column, Qt::SortOrder order)
{
    const bool descending = order == Qt::DescendingOrder;
    std::vector<SortKey> keys;
    keys.reserve(size_t(entries.size()));
    for (const WimDirEntry &e : entries) {
        keys.push_back({e.type == WimDirEntry::Type::Folder, nameKey(e.name),
                        column == EntryColumn::Type ? EntryTypeText(e) : QString(),
                        column == EntryColumn::Modified ? e.modified.toMSecsSinceEpoch() : 0});
    }
    std::vector<qsizetype> rows(size_t(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        rows[size_t(i)] = i;
    const QList<WimDirEntry> &list = entries;
    std::stable_sort(rows.begin(), rows.end(), [&](qsizetype x, qsizetype y) {
        const SortKey &kx = keys[size_t(x)];
        const SortKey &ky = keys[size_t(y)];
        if (kx.folder != ky.folder)
            return kx.folder;
        int c = compareBy(list[x], list[y], kx, ky, column);
        if (c == 0)
            c = kx.name.compare(ky.name);
        if (c == 0)
            c = list[x].name.compare(list[y].name);
        return descending ? c > 0 : c < 0;
    });
    QList<WimDirEntry> sorted;
    sorted.reserve(entries.size());
    for (qsizetype row : rows)
        sorted << std::move(entries[row]);
    entries = std::move(sorted);
}
