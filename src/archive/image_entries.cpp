#include "archive/image_entries.h"

#include "archive/image_size.h"

#include <QStringList>

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

// The comparison of one column, before the tie-break by name. `typeA` and
// `typeB` are the entries' type texts (worked out once per sort, not per
// comparison: a folder may hold tens of thousands of entries).
int compareBy(const WimDirEntry &a, const WimDirEntry &b, const QString &typeA, const QString &typeB,
              EntryColumn column)
{
    switch (column) {
    case EntryColumn::Size: return threeWay(a.size, b.size);
    case EntryColumn::Modified: return threeWay(a.modified.toMSecsSinceEpoch(), b.modified.toMSecsSinceEpoch());
    case EntryColumn::Type: return typeA.compare(typeB);
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
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Leading zeros do not count; a longer run of digits is the larger number.
            while (i < a.size() && a[i] == QLatin1Char('0'))
                ++i;
            while (j < b.size() && b[j] == QLatin1Char('0'))
                ++j;
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j ? -1 : 1;
            if (const int c = a.mid(i, ei - i).compare(b.mid(j, ej - j)))
                return c;
            i = ei;
            j = ej;
            continue;
        }
        const char16_t ca = a[i].toCaseFolded().unicode();
        const char16_t cb = b[j].toCaseFolded().unicode();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return a.compare(b);
}

void SortEntries(QList<WimDirEntry> &entries, EntryColumn column, Qt::SortOrder order)
{
    const bool descending = order == Qt::DescendingOrder;
    QStringList types;
    if (column == EntryColumn::Type) {
        types.reserve(entries.size());
        for (const WimDirEntry &entry : entries)
            types << EntryTypeText(entry);
    }
    std::vector<qsizetype> rows(size_t(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        rows[size_t(i)] = i;
    const QString none;
    std::stable_sort(rows.begin(), rows.end(), [&](qsizetype x, qsizetype y) {
        const WimDirEntry &a = entries[x];
        const WimDirEntry &b = entries[y];
        const bool folderA = a.type == WimDirEntry::Type::Folder;
        const bool folderB = b.type == WimDirEntry::Type::Folder;
        if (folderA != folderB)
            return folderA;
        int c = types.isEmpty() ? compareBy(a, b, none, none, column) : compareBy(a, b, types[x], types[y], column);
        if (c == 0)
            c = CompareEntryNames(a.name, b.name);
        return descending ? c > 0 : c < 0;
    });
    QList<WimDirEntry> sorted;
    sorted.reserve(entries.size());
    for (qsizetype row : rows)
        sorted << std::move(entries[row]);
    entries = std::move(sorted);
}
