// The image table's growth and removal, the size text and the compression labels.
#include "archive/image_size.h"
#include "archive/image_table.h"

#include <QTest>

namespace {

// A list of UTF-8 literals (QString has no implicit conversion from char here).
QStringList strs(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromUtf8(item);
    return out;
}

QStringList names(const ImageTable &table)
{
    QStringList out;
    for (int i = 0; i < table.count; ++i)
        out << table.records[std::size_t(i)].name;
    return out;
}

ImageTable tableOf(const QStringList &names)
{
    ImageTable table;
    for (const QString &name : names) {
        ImageInfo &record = table.append();
        record.name = name;
        record.displayName = name + QStringLiteral("-shown");
        record.expandedBytes = quint64(name.size());
    }
    return table;
}

}  // namespace

class TestImageTable : public QObject
{
    Q_OBJECT

private slots:
    void formatImageSize_data();
    void formatImageSize();
    void compressionLabel_data();
    void compressionLabel();
    void startsWithFourSlots();
    void growsByOneWhenFull();
    void remove_data();
    void remove();
    void resetKeepsSlots();
    void findSameImage_data();
    void findSameImage();
};

void TestImageTable::formatImageSize_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << quint64(0) << "0KB";
    QTest::newRow("under 1 KiB") << quint64(1023) << "0KB";
    QTest::newRow("1536: remainder dropped") << quint64(1536) << "1KB";
    QTest::newRow("1048576: exactly 1024 stays KB") << quint64(1048576) << "1024KB";
    QTest::newRow("just under 1025 KiB") << quint64(1049599) << "1024KB";
    QTest::newRow("1049600") << quint64(1049600) << "1MB";
    QTest::newRow("12.50 -> 12.5") << quint64(12800) * 1024 << "12.5MB";
    QTest::newRow("12.05 stays") << quint64(12339) * 1024 << "12.05MB";
    QTest::newRow("12.00 -> 12") << quint64(12288) * 1024 << "12MB";
    QTest::newRow("100.00 -> 100") << quint64(102400) * 1024 << "100MB";
    QTest::newRow("10.10 -> 10.1") << quint64(10342) * 1024 << "10.1MB";
    QTest::newRow("exactly 1024 MB stays MB") << quint64(1073741824) << "1024MB";
    QTest::newRow("rounded up to two decimals") << quint64(1048575) * 1024 << "1024MB";
    QTest::newRow("1610612736") << quint64(1610612736) << "1.5GB";
    QTest::newRow("1099511627776") << quint64(1099511627776) << "1024GB";
    QTest::newRow("1100585369600") << quint64(1100585369600) << "1025GB";
    QTest::newRow("no unit above GB") << quint64(0xFFFFFFFFFFFFFFFFull) << "17179869184GB";
}

void TestImageTable::formatImageSize()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(FormatImageSize(bytes), text);
}

void TestImageTable::compressionLabel_data()
{
    QTest::addColumn<int>("compression");
    QTest::addColumn<QString>("label");
    QTest::newRow("none") << 0 << QStringLiteral("无压缩");
    QTest::newRow("XPRESS") << 1 << QStringLiteral("快速压缩");
    QTest::newRow("LZX") << 2 << QStringLiteral("最大压缩");
    QTest::newRow("LZMS, solid ESD") << 3 << QStringLiteral("LZMS压缩");
    QTest::newRow("unknown type by its number") << 4 << QStringLiteral("未知压缩(4)");
    QTest::newRow("negative type by its number") << -1 << QStringLiteral("未知压缩(-1)");
}

void TestImageTable::compressionLabel()
{
    QFETCH(int, compression);
    QFETCH(QString, label);
    QCOMPARE(CompressionLabel(compression), label);
}

void TestImageTable::startsWithFourSlots()
{
    ImageTable table;
    QCOMPARE(table.capacity, 4);
    QCOMPARE(table.count, 0);
    QCOMPARE(table.compression, qint16(2));
    QCOMPARE(table.bootRow, -1);
    QCOMPARE(table.records.size(), std::size_t(4));
}

void TestImageTable::growsByOneWhenFull()
{
    ImageTable table;
    QList<int> capacities;
    for (int i = 0; i < 7; ++i) {
        ImageInfo &record = table.append();
        // Counted before it is filled.
        QCOMPARE(table.count, i + 1);
        QCOMPARE(&record, &table.records[std::size_t(i)]);
        record.name = QString::number(i);
        record.expandedBytes = quint64(i) * 1000;
        capacities << table.capacity;
    }
    QCOMPARE(capacities, (QList<int>{4, 4, 4, 4, 5, 6, 7}));
    QCOMPARE(table.records.size(), std::size_t(7));
    // Growing kept every record.
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(table.records[std::size_t(i)].name, QString::number(i));
        QCOMPARE(table.records[std::size_t(i)].expandedBytes, quint64(i) * 1000);
    }
}

void TestImageTable::remove_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("row 1 of three") << strs({"a", "b", "c"}) << 1 << strs({"a", "c"});
    QTest::newRow("first") << strs({"a", "b", "c"}) << 0 << strs({"b", "c"});
    QTest::newRow("last") << strs({"a", "b", "c"}) << 2 << strs({"a", "b"});
    QTest::newRow("only") << strs({"a"}) << 0 << QStringList{};
    QTest::newRow("grown table") << strs({"a", "b", "c", "d", "e", "f"}) << 3 << strs({"a", "b", "c", "e", "f"});
    QTest::newRow("past the end: nothing") << strs({"a", "b"}) << 2 << strs({"a", "b"});
    QTest::newRow("negative: nothing") << strs({"a", "b"}) << -1 << strs({"a", "b"});
}

void TestImageTable::remove()
{
    QFETCH(QStringList, before);
    QFETCH(int, row);
    QFETCH(QStringList, after);
    ImageTable table = tableOf(before);
    const int capacity = table.capacity;
    table.remove(row);
    QCOMPARE(names(table), after);
    QCOMPARE(table.capacity, capacity);
    // Every field moved with its record.
    for (int i = 0; i < table.count; ++i) {
        const ImageInfo &record = table.records[std::size_t(i)];
        QCOMPARE(record.displayName, record.name + QStringLiteral("-shown"));
        QCOMPARE(record.expandedBytes, quint64(record.name.size()));
    }
}

void TestImageTable::resetKeepsSlots()
{
    ImageTable table = tableOf(strs({"a", "b", "c", "d", "e"}));
    table.compression = 0;
    table.bootRow = 3;
    table.reset();
    QCOMPARE(table.count, 0);
    QCOMPARE(table.compression, qint16(2));
    QCOMPARE(table.bootRow, -1);
    QCOMPARE(table.capacity, 5);
    // The next appends reuse the slots without growing, and start empty.
    for (int i = 0; i < 5; ++i)
        QCOMPARE(table.append().name, QString());
    QCOMPARE(table.capacity, 5);
    table.append();
    QCOMPARE(table.capacity, 6);
}

// Rows "name/description/bytes"; an empty name is an unnamed image.
static ImageTable recordsOf(const QStringList &rows)
{
    ImageTable table;
    for (const QString &row : rows) {
        const QStringList parts = row.split(QLatin1Char('/'));
        ImageInfo &record = table.append();
        record.name = parts.value(0);
        record.description = parts.value(1);
        record.expandedBytes = parts.value(2).toULongLong();
    }
    return table;
}

void TestImageTable::findSameImage_data()
{
    QTest::addColumn<QStringList>("now");
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("oldRow");
    QTest::addColumn<int>("row");
    const QStringList abc{QStringLiteral("a/x/1"), QStringLiteral("b/x/1"), QStringLiteral("c/x/1")};
    QTest::newRow("image 1 deleted") << abc.mid(1) << QStringLiteral("b/x/1") << 1 << 0;
    QTest::newRow("appended") << (abc + QStringList{QStringLiteral("d/x/1")}) << QStringLiteral("c/x/1") << 2 << 2;
    QTest::newRow("its description changed: the name holds")
        << QStringList{QStringLiteral("a/new/1")} << QStringLiteral("a/x/1") << 0 << 0;
    QTest::newRow("gone") << abc.mid(1) << QStringLiteral("a/x/1") << 0 << -1;
    QTest::newRow("unnamed: by texts and size")
        << QStringList{QStringLiteral("/x/1"), QStringLiteral("/x/2")} << QStringLiteral("/x/2") << 0 << 1;
    QTest::newRow("unnamed, alike: the nearest")
        << QStringList{QStringLiteral("/x/1"), QStringLiteral("a/x/1"), QStringLiteral("/x/1"), QStringLiteral("/x/1")}
        << QStringLiteral("/x/1") << 3 << 3;
    QTest::newRow("unnamed never matches a named one")
        << QStringList{QStringLiteral("a/x/1")} << QStringLiteral("/x/1") << 0 << -1;
}

void TestImageTable::findSameImage()
{
    QFETCH(QStringList, now);
    QFETCH(QString, image);
    QFETCH(int, oldRow);
    QFETCH(int, row);
    QCOMPARE(FindSameImage(recordsOf(now), recordsOf({image}).records[0], oldRow), row);
}

QTEST_APPLESS_MAIN(TestImageTable)
#include "tst_image_table.moc"
