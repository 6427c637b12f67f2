#include "archive/image_entries.h"

#include "archive/image_size.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <tuple>
#include <vector>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
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

// Under a Chinese locale names sort as people there read them: Han
// characters by their pinyin, numbers by value, letter case aside (the
// locale's collator). Elsewhere by nameKey. One collator per thread: the
// orders are worked out on workers.
const QCollator *chineseCollator()
{
    if (QLocale().language() != QLocale::Chinese)
        return nullptr;
    thread_local std::unique_ptr<QCollator> collator;
    if (!collator || collator->locale() != QLocale()) {
        collator = std::make_unique<QCollator>(QLocale());
        collator->setNumericMode(true);
        collator->setCaseSensitivity(Qt::CaseInsensitive);
    }
    return collator.get();
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
    if (const QCollator *collator = chineseCollator()) {
        if (const int c = collator->compare(a, b))
            return c;
        return a.compare(b);
    }
    if (const int c = nameKey(a).compare(nameKey(b)))
        return c;
    return a.compare(b);
}

std::vector<EntrySortKey> EntrySortKeys(const QList<WimDirEntry> &entries)
{
    const size_t count = size_t(entries.size());
    std::vector<EntrySortKey> keys(count);
    std::vector<QString> names(count);
    // Type texts are few: each is numbered as it first appears, then the
    // numbers are replaced by places in text order.
    QHash<QString, uint32_t> typeNumbers;
    QStringList types;
    for (size_t i = 0; i < count; ++i) {
        const WimDirEntry &e = entries[qsizetype(i)];
        EntrySortKey &key = keys[i];
        key.folder = e.type == WimDirEntry::Type::Folder;
        key.size = e.size;
        key.modified = e.modified.toMSecsSinceEpoch();
        if (!chineseCollator())
            names[i] = nameKey(e.name);
        const QString type = EntryTypeText(e);
        const auto known = typeNumbers.constFind(type);
        if (known != typeNumbers.constEnd()) {
            key.type = *known;
        } else {
            key.type = uint32_t(types.size());
            typeNumbers.insert(type, key.type);
            types << type;
        }
    }
    std::vector<uint32_t> typeOrder(size_t(types.size()));
    for (size_t i = 0; i < typeOrder.size(); ++i)
        typeOrder[i] = uint32_t(i);
    std::sort(typeOrder.begin(), typeOrder.end(), [&](uint32_t x, uint32_t y) { return types[x] < types[y]; });
    std::vector<uint32_t> typePlace(typeOrder.size());
    for (size_t i = 0; i < typeOrder.size(); ++i)
        typePlace[typeOrder[i]] = uint32_t(i);
    for (EntrySortKey &key : keys)
        key.type = typePlace[key.type];

    std::vector<uint32_t> byName(count);
    for (size_t i = 0; i < count; ++i)
        byName[i] = uint32_t(i);
    // A sort key per name: the collator's are compared as bytes.
    std::vector<QCollatorSortKey> collated;
    if (const QCollator *collator = chineseCollator()) {
        collated.reserve(count);
        for (size_t i = 0; i < count; ++i)
            collated.push_back(collator->sortKey(entries[qsizetype(i)].name));
    }
    const auto compareKeys = [&](uint32_t x, uint32_t y) {
        return collated.empty() ? names[x].compare(names[y]) : collated[x].compare(collated[y]);
    };
    std::sort(byName.begin(), byName.end(), [&](uint32_t x, uint32_t y) {
        if (const int c = compareKeys(x, y))
            return c < 0;
        return entries[x].name < entries[y].name;
    });
    // Equal names (a damaged image) share a place, so that the sort keeps them as listed.
    for (size_t i = 0; i < count; ++i) {
        const bool same = i > 0 && compareKeys(byName[i], byName[i - 1]) == 0
                          && entries[byName[i]].name == entries[byName[i - 1]].name;
        keys[byName[i]].name = same ? keys[byName[i - 1]].name : uint32_t(i);
    }
    return keys;
}

namespace {

uint64_t valueOf(const EntrySortKey &key, EntryColumn column)
{
    switch (column) {
    case EntryColumn::Size: return key.size;
    case EntryColumn::Modified: return uint64_t(key.modified) ^ (uint64_t(1) << 63);  // in signed order
    case EntryColumn::Type: return key.type;
    case EntryColumn::Name:
    case EntryColumn::Count: break;
    }
    return 0;
}

}  // namespace

EntryOrders::EntryOrders(const QList<WimDirEntry> &entries) : m_keys(EntrySortKeys(entries))
{
    // One flat record per entry, compared as plain numbers.
    struct Row {
        bool file;
        uint64_t value;
        uint32_t name;
        uint32_t index;
        bool operator<(const Row &o) const
        {
            return std::tie(file, value, name, index) < std::tie(o.file, o.value, o.name, o.index);
        }
    };
    const size_t count = m_keys.size();
    m_folders = size_t(std::count_if(m_keys.begin(), m_keys.end(), [](const EntrySortKey &k) { return k.folder; }));
    std::vector<Row> rows(count);
    for (int column = 0; column < int(EntryColumn::Count); ++column) {
        for (size_t i = 0; i < count; ++i)
            rows[i] = {!m_keys[i].folder, valueOf(m_keys[i], EntryColumn(column)), m_keys[i].name, uint32_t(i)};
        std::sort(rows.begin(), rows.end());
        std::vector<uint32_t> &order = m_ascending[column];
        order.resize(count);
        for (size_t i = 0; i < count; ++i)
            order[i] = rows[i].index;
    }
}

std::vector<uint32_t> EntryOrders::rows(EntryColumn column, Qt::SortOrder order) const
{
    if (column < EntryColumn::Name || column >= EntryColumn::Count)
        column = EntryColumn::Name;
    const std::vector<uint32_t> &ascending = m_ascending[int(column)];
    if (order == Qt::AscendingOrder)
        return ascending;
    // Each group backwards, runs of equal entries kept as they are.
    std::vector<uint32_t> rows;
    rows.reserve(ascending.size());
    const auto same = [&](uint32_t a, uint32_t b) {
        return m_keys[a].name == m_keys[b].name && valueOf(m_keys[a], column) == valueOf(m_keys[b], column);
    };
    for (const auto &[begin, end] : {std::pair(size_t(0), m_folders), std::pair(m_folders, ascending.size())}) {
        for (size_t runEnd = end; runEnd > begin;) {
            size_t runBegin = runEnd - 1;
            while (runBegin > begin && same(ascending[runBegin - 1], ascending[runEnd - 1]))
                --runBegin;
            rows.insert(rows.end(), ascending.begin() + qsizetype(runBegin), ascending.begin() + qsizetype(runEnd));
            runEnd = runBegin;
        }
    }
    return rows;
}

void SortEntries(QList<WimDirEntry> &entries, EntryColumn column, Qt::SortOrder order)
{
    const std::vector<uint32_t> rows = EntryOrders(entries).rows(column, order);
    QList<WimDirEntry> sorted;
    sorted.reserve(entries.size());
    for (uint32_t row : rows)
        sorted << std::move(entries[row]);
    entries = std::move(sorted);
}
