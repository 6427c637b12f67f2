// The browse dialog's core: image paths from the path bar, the texts and the
// order of an image's entries, the list's rows and the folder tree.
#include "archive/image_changes.h"
#include "archive/image_details.h"
#include "archive/image_entries.h"
#include "archive/image_folder_model.h"
#include "archive/image_folder_tree.h"
#include "archive/image_path.h"
#include "archive/name_filter.h"
#include "archive/selected_rows.h"

#include <QItemSelectionModel>

#include <QSignalSpy>
#include <QTest>

#include <numeric>

namespace {

using Type = WimDirEntry::Type;

WimDirEntry entry(const QString &name, Type type = Type::File, uint64_t size = 0, qint64 secs = 0)
{
    WimDirEntry e;
    e.name = name;
    e.type = type;
    e.size = size;
    e.attributes = type == Type::Folder ? 0x10 : 0x20;
    e.modified = QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
    return e;
}

QStringList L(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromUtf8(item);
    return out;
}

// "name size seconds": "name" a file, "name/" a folder, "name@" a link.
QList<WimDirEntry> entries(const QStringList &described)
{
    QList<WimDirEntry> out;
    for (const QString &description : described) {
        const QStringList parts = description.split(QLatin1Char(' '));
        QString name = parts[0];
        Type type = Type::File;
        if (name.endsWith(QLatin1Char('/')))
            type = Type::Folder, name.chop(1);
        else if (name.endsWith(QLatin1Char('@')))
            type = Type::Link, name.chop(1);
        out << entry(name, type, parts.value(1).toULongLong(), parts.value(2).toLongLong());
    }
    return out;
}

QStringList names(const QList<WimDirEntry> &list)
{
    QStringList out;
    for (const WimDirEntry &e : list)
        out << e.name;
    return out;
}

}  // namespace

class TestImageEntries : public QObject
{
    Q_OBJECT

private slots:
    void pathFromTyped_data();
    void pathFromTyped();
    void parentAndChain_data();
    void parentAndChain();
    void texts_data();
    void texts();
    void timeText_data();
    void timeText();
    void compareNames_data();
    void compareNames();
    void sortOrder_data();
    void sortOrder();
    void ordersCompareAsEntriesDo_data();
    void ordersCompareAsEntriesDo();
    void modelRows();
    void sortKeepsSelection();
    void selectedRowCount_data();
    void selectedRowCount();
    void treeFillsAsListed();
    void nameFilter_data();
    void nameFilter();
    void addUpdates_data();
    void addUpdates();
    void newNames_data();
    void newNames();
    void pinyinOrder_data();
    void pinyinOrder();
    void imageDetails_data();
    void imageDetails();
};

void TestImageEntries::pathFromTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("path");
    QTest::newRow("nothing is the root") << ""
                                         << "/";
    QTest::newRow("blanks are the root") << "   "
                                         << "/";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("no leading slash") << "Windows/System32"
                                      << "/Windows/System32";
    QTest::newRow("backslashes") << "\\Windows\\System32\\"
                                 << "/Windows/System32";
    QTest::newRow("mixed and doubled") << "//a\\\\b//c/"
                                       << "/a/b/c";
    QTest::newRow("dot") << "/a/./b/."
                         << "/a/b";
    QTest::newRow("dot dot") << "/a/b/../c"
                             << "/a/c";
    QTest::newRow("dot dot above the root") << "/../../a"
                                            << "/a";
    QTest::newRow("blanks inside names stay") << " /Program Files/ a b"
                                              << "/Program Files/ a b";
    QTest::newRow("dots in names stay") << "/a.b/...c"
                                        << "/a.b/...c";
    QTest::newRow("Chinese") << "\\用户\\文档"
                             << "/用户/文档";
}

void TestImageEntries::pathFromTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, path);
    QCOMPARE(ImagePathFromTyped(typed), path);
}

void TestImageEntries::parentAndChain_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QStringList>("chain");
    QTest::newRow("root") << "/"
                          << "/" << L({"/"});
    QTest::newRow("one down") << "/a"
                              << "/" << L({"/", "/a"});
    QTest::newRow("three down") << "/a/b c/d"
                                << "/a/b c" << L({"/", "/a", "/a/b c", "/a/b c/d"});
}

void TestImageEntries::parentAndChain()
{
    QFETCH(QString, path);
    QFETCH(QString, parent);
    QFETCH(QStringList, chain);
    QCOMPARE(ParentImagePath(path), parent);
    QCOMPARE(ImagePathChain(path), chain);
    if (path != QLatin1String("/"))
        QCOMPARE(JoinImagePath(parent, path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)), path);
}

void TestImageEntries::texts_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("type");
    QTest::newRow("empty file") << "a.txt 0"
                                << "0字节"
                                << "TXT 文件";
    QTest::newRow("below 1 KB") << "a.TxT 1023"
                                << "1023字节"
                                << "TXT 文件";
    QTest::newRow("1 KB") << "setup.exe 1024"
                          << "1KB"
                          << "EXE 文件";
    QTest::newRow("MB") << "data.tar.gz 12635341"
                        << "12.05MB"
                        << "GZ 文件";
    QTest::newRow("GB") << "install.wim 1610612736"
                        << "1.5GB"
                        << "WIM 文件";
    QTest::newRow("no extension") << "README 5"
                                  << "5字节"
                                  << "文件";
    QTest::newRow("leading dot only") << ".profile 5"
                                      << "5字节"
                                      << "文件";
    QTest::newRow("trailing dot") << "name. 5"
                                  << "5字节"
                                  << "文件";
    QTest::newRow("folder") << "Windows/"
                            << ""
                            << "文件夹";
    QTest::newRow("link") << "Documents@"
                          << ""
                          << "链接";
}

void TestImageEntries::texts()
{
    QFETCH(QString, description);
    QFETCH(QString, size);
    QFETCH(QString, type);
    const WimDirEntry e = entries(QStringList{description}).first();
    QCOMPARE(EntrySizeText(e), size);
    QCOMPARE(EntryTypeText(e), type);
}

void TestImageEntries::timeText_data()
{
    QTest::addColumn<QDateTime>("modified");
    QTest::addColumn<int>("offsetHours");
    QTest::addColumn<QString>("text");
    QTest::newRow("UTC+8") << QDateTime(QDate(2023, 5, 1), QTime(6, 3, 59), Qt::UTC) << 8 << "2023/05/01 14:03";
    QTest::newRow("into the next year") << QDateTime(QDate(2022, 12, 31), QTime(16, 0), Qt::UTC) << 8
                                        << "2023/01/01 00:00";
    QTest::newRow("west of UTC") << QDateTime(QDate(2023, 3, 1), QTime(2, 30), Qt::UTC) << -5 << "2023/02/28 21:30";
    QTest::newRow("unknown") << QDateTime() << 8 << "";
}

void TestImageEntries::timeText()
{
    QFETCH(QDateTime, modified);
    QFETCH(int, offsetHours);
    QFETCH(QString, text);
    WimDirEntry e;
    e.modified = modified;
    QCOMPARE(EntryTimeText(e, QTimeZone(offsetHours * 3600)), text);
}

void TestImageEntries::compareNames_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");
    QTest::newRow("numbers by value") << "file2"
                                      << "file10" << -1;
    QTest::newRow("numbers inside") << "x9y"
                                    << "x10a" << -1;
    QTest::newRow("case does not lead") << "apple"
                                        << "Banana" << -1;
    QTest::newRow("case breaks ties only") << "File"
                                           << "file" << -1;
    QTest::newRow("leading zeros tie, then break") << "a01"
                                                   << "a1" << -1;
    QTest::newRow("prefix first") << "abc"
                                  << "abcd" << -1;
    QTest::newRow("empty first") << ""
                                 << "a" << -1;
    QTest::newRow("equal") << "同名.txt"
                           << "同名.txt" << 0;
    QTest::newRow("long numbers") << "v123456789012345678901"
                                  << "v99" << 1;
}

void TestImageEntries::compareNames()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    const auto signOf = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
    QCOMPARE(signOf(CompareEntryNames(a, b)), sign);
    QCOMPARE(signOf(CompareEntryNames(b, a)), -sign);
}

void TestImageEntries::sortOrder_data()
{
    QTest::addColumn<QStringList>("described");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("order");
    // name size time
    const QStringList described =
        L({"b.txt 300 30", "Z/ 0 10", "a10.log 100 20", "a/ 0 50", "a2.log 100 40", "lnk@ 0 5"});
    QTest::newRow("name") << described << int(EntryColumn::Name) << false
                          << L({"a", "Z", "a2.log", "a10.log", "b.txt", "lnk"});
    QTest::newRow("name, descending: folders still first")
        << described << int(EntryColumn::Name) << true << L({"Z", "a", "lnk", "b.txt", "a10.log", "a2.log"});
    QTest::newRow("size, ties by name") << described << int(EntryColumn::Size) << false
                                        << L({"a", "Z", "lnk", "a2.log", "a10.log", "b.txt"});
    QTest::newRow("size, descending") << described << int(EntryColumn::Size) << true
                                      << L({"Z", "a", "b.txt", "a10.log", "a2.log", "lnk"});
    QTest::newRow("modified") << described << int(EntryColumn::Modified) << false
                              << L({"Z", "a", "lnk", "a10.log", "b.txt", "a2.log"});
    QTest::newRow("type") << described << int(EntryColumn::Type) << false
                          << L({"a", "Z", "a2.log", "a10.log", "b.txt", "lnk"});
}

void TestImageEntries::sortOrder()
{
    QFETCH(QStringList, described);
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QStringList, order);
    QList<WimDirEntry> list = entries(described);
    SortEntries(list, EntryColumn(column), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    QCOMPARE(names(list), order);
}

void TestImageEntries::ordersCompareAsEntriesDo_data()
{
    QTest::addColumn<QStringList>("described");
    const QStringList mixed = L({"b.txt 300 30", "Z/ 0 10", "a10.log 100 20", "a/ 0 50", "a2.log 100 40", "lnk@ 0 5",
                                 "A2.LOG 7 -3", "x.TXT 300 30", "noext 1 1", "a02.log 100 20"});
    QTest::newRow("mixed") << mixed;
    QTest::newRow("one") << L({"only.txt 1 1"});
    QTest::newRow("none") << QStringList();
    QTest::newRow("equal names keep their order") << L({"same 2 1", "same 1 2", "same 3 0"});
}

// The orders worked out once per listing are those of comparing the entries
// as a file manager does (the names as CompareEntryNames orders them, types
// by their text), with equal entries in their listed order either way.
void TestImageEntries::ordersCompareAsEntriesDo()
{
    QFETCH(QStringList, described);
    const QList<WimDirEntry> list = entries(described);
    const EntryOrders orders(list);
    QCOMPARE(orders.size(), size_t(list.size()));
    for (int column = 0; column < int(EntryColumn::Count); ++column) {
        const auto compare = [&](const WimDirEntry &a, const WimDirEntry &b) {
            switch (EntryColumn(column)) {
            case EntryColumn::Size: return a.size < b.size ? -1 : int(a.size > b.size);
            case EntryColumn::Modified: return a.modified < b.modified ? -1 : int(a.modified > b.modified);
            case EntryColumn::Type: return EntryTypeText(a).compare(EntryTypeText(b));
            default: return 0;
            }
        };
        for (const bool descending : {false, true}) {
            std::vector<uint32_t> expected(size_t(list.size()));
            std::iota(expected.begin(), expected.end(), 0u);
            std::stable_sort(expected.begin(), expected.end(), [&](uint32_t x, uint32_t y) {
                const WimDirEntry &a = list[x], &b = list[y];
                if ((a.type == Type::Folder) != (b.type == Type::Folder))
                    return a.type == Type::Folder;
                int c = compare(a, b);
                if (c == 0)
                    c = CompareEntryNames(a.name, b.name);
                return descending ? c > 0 : c < 0;
            });
            QCOMPARE(orders.rows(EntryColumn(column), descending ? Qt::DescendingOrder : Qt::AscendingOrder), expected);
        }
    }
}

void TestImageEntries::modelRows()
{
    ImageFolderModel model;
    model.setTimeZone(QTimeZone(8 * 3600));
    QList<WimDirEntry> list = entries(L({"notes.txt 2048 1682921039", "bin/ 0 0"}));
    list[1].modified = QDateTime();  // unknown
    WimDirEntry link = entry(QStringLiteral("home"), Type::Link);
    link.linkTarget = QStringLiteral("/usr/home");
    list << link;
    model.setFolder(QStringLiteral("/etc"), list);

    QCOMPARE(model.columnCount(), 4);
    QStringList headings;
    for (int c = 0; c < model.columnCount(); ++c)
        headings << model.headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headings, (L({"名称", "大小", "修改时间", "类型"})));
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join(QLatin1Char('|'));
    }
    // 2023-05-01 06:03:59 UTC is 14:03 in UTC+8.
    QCOMPARE(rows, (L({"bin|||文件夹", "home||1970/01/01 08:00|链接", "notes.txt|2KB|2023/05/01 14:03|TXT 文件"})));
    QCOMPARE(model.index(1, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("home → /usr/home"));
    model.setDecoration(Type::Link, QStringLiteral("link icon"));
    QCOMPARE(model.index(1, 0).data(Qt::DecorationRole).toString(), QStringLiteral("link icon"));
    QVERIFY(!model.index(0, 0).data(Qt::DecorationRole).isValid());
    QVERIFY(!model.index(1, 1).data(Qt::DecorationRole).isValid());
    QCOMPARE(model.index(2, 0).data(ImageFolderModel::PathRole).toString(), QStringLiteral("/etc/notes.txt"));
    QCOMPARE(model.rowOf(QStringLiteral("notes.txt")), 2);
    QCOMPARE(model.rowOf(QStringLiteral("missing")), -1);
    // Each row once, whatever the columns of the selection.
    QCOMPARE(model.pathsOf({model.index(2, 1), model.index(0, 0), model.index(2, 3)}),
             (L({"/etc/bin", "/etc/notes.txt"})));
    model.setFolder(QStringLiteral("/"), entries(L({"x"})));
    QCOMPARE(model.pathsOf({model.index(0, 0)}), L({"/x"}));
    // What a folder held is freed where the model is told, from its last
    // reference, when another replaces it and when the model ends.
    std::vector<std::shared_ptr<const void>> disposed;
    {
        ImageFolderModel shown;
        shown.setDisposal([&](std::shared_ptr<const void> held) { disposed.push_back(std::move(held)); });
        shown.setFolder(QStringLiteral("/"), entries(L({"x"})));
        shown.setFolder(QStringLiteral("/"), entries(L({"y"})));
        QCOMPARE(disposed.size(), size_t(2));  // the empty model's, then x's
        QCOMPARE(disposed.back().use_count(), 1L);
        QCOMPARE(shown.entry(0).name, QStringLiteral("y"));
    }
    QCOMPARE(disposed.size(), size_t(3));
}

void TestImageEntries::sortKeepsSelection()
{
    ImageFolderModel model;
    model.setFolder(QStringLiteral("/"), entries(L({"a 3", "b 1", "c 2"})));
    const QPersistentModelIndex selected(model.index(0, 0));  // "a"
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    model.sort(int(EntryColumn::Size), Qt::AscendingOrder);
    QCOMPARE(layout.size(), 1);
    QCOMPARE(model.entry(0).name, QStringLiteral("b"));
    QCOMPARE(selected.row(), 2);
    QCOMPARE(selected.data().toString(), QStringLiteral("a"));
    // Rows that come sorted by a worker are taken as they are.
    model.setFolder(QStringLiteral("/"), entries(L({"z 1", "y 2"})), true);
    QCOMPARE(model.entry(0).name, QStringLiteral("z"));
}

void TestImageEntries::selectedRowCount_data()
{
    // Steps on a list of 10 rows: "s A B" selects rows A..B, "d A B"
    // deselects them, "t A B" toggles them, "x A B" makes them the whole
    // selection, "c" clears, "o C" sorts by column C, "r" shows a folder again.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("counts");
    QTest::newRow("select, deselect inside") << L({"s 0 9", "d 3 4", "d 0 0", "s 3 3"}) << QList<int>{10, 8, 7, 8};
    QTest::newRow("overlapping selections") << L({"s 2 5", "s 4 8", "s 0 9"}) << QList<int>{4, 7, 10};
    QTest::newRow("toggle") << L({"s 0 3", "t 2 6", "t 0 9"}) << QList<int>{4, 5, 5};
    QTest::newRow("replace, clear") << L({"s 0 9", "x 5 6", "c", "x 1 1"}) << QList<int>{10, 2, 0, 1};
    QTest::newRow("sorting keeps it") << L({"s 1 3", "s 7 7", "o 1", "d 0 0", "o 0", "d 0 9", "s 0 9"})
                                      << QList<int>{3, 4, 4, -1, -1, 0, 10};
    QTest::newRow("all sorted, then part") << L({"s 0 9", "o 2", "d 2 4", "o 3"}) << QList<int>{10, 10, 7, 7};
    QTest::newRow("a new folder has none") << L({"s 0 4", "r", "s 9 9"}) << QList<int>{5, 0, 1};
}

// The count kept from the changes is the number of rows the selection model holds.
void TestImageEntries::selectedRowCount()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, counts);
    QStringList described;
    for (int i = 0; i < 10; ++i)
        described << QStringLiteral("f%1 %2 %3").arg(i).arg((i * 7) % 10).arg((i * 3) % 10);
    ImageFolderModel model;
    model.setFolder(QStringLiteral("/"), entries(described));
    QItemSelectionModel selection(&model);
    const auto *count = new SelectedRowCount(&selection);
    const auto rows = [&](int top, int bottom) {
        return QItemSelection(model.index(top, 0), model.index(bottom, model.columnCount() - 1));
    };
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QStringList step = steps[i].split(QLatin1Char(' '));
        const QChar what = step[0][0];
        const int a = step.value(1).toInt(), b = step.value(2).toInt();
        if (what == u's')
            selection.select(rows(a, b), QItemSelectionModel::Select);
        else if (what == u'd')
            selection.select(rows(a, b), QItemSelectionModel::Deselect);
        else if (what == u't')
            selection.select(rows(a, b), QItemSelectionModel::Toggle);
        else if (what == u'x')
            selection.select(rows(a, b), QItemSelectionModel::ClearAndSelect);
        else if (what == u'c')
            selection.clearSelection();
        else if (what == u'o')
            model.sort(a, Qt::DescendingOrder);
        else if (what == u'r')
            model.setFolder(QStringLiteral("/"), entries(described));
        std::vector<int> selected;
        for (const QModelIndex &index : selection.selectedRows())
            selected.push_back(index.row());
        std::sort(selected.begin(), selected.end());
        const int rowsSelected = int(selected.size());
        QCOMPARE(count->count(), rowsSelected);
        QCOMPARE(SelectedRows(selection.selection()), selected);
        if (counts[i] >= 0)
            QCOMPARE(rowsSelected, counts[i]);
    }
}

void TestImageEntries::treeFillsAsListed()
{
    ImageFolderTree tree(QStringLiteral("映像"));
    QSignalSpy needed(&tree, &ImageFolderTree::subfoldersNeeded);
    const QModelIndex root = tree.index(0, 0);
    QCOMPARE(root.data().toString(), QStringLiteral("映像"));
    QVERIFY(tree.hasChildren(root));  // not listed: it may hold folders
    QVERIFY(tree.canFetchMore(root));
    tree.fetchMore(root);
    tree.fetchMore(root);  // asked once
    QCOMPARE(needed.size(), 1);
    QCOMPARE(needed.first().first().toString(), QStringLiteral("/"));

    tree.setSubfolders(QStringLiteral("/"), entries(L({"file.txt", "b10/", "b9/", "link@"})));
    QCOMPARE(tree.rowCount(root), 2);  // folders only, in name order
    QCOMPARE(tree.index(0, 0, root).data().toString(), QStringLiteral("b9"));
    const QModelIndex b10 = tree.indexOf(QStringLiteral("/b10"));
    QCOMPARE(ImageFolderTree::pathOf(b10), QStringLiteral("/b10"));
    QCOMPARE(tree.parent(b10), root);
    QVERIFY(!tree.indexOf(QStringLiteral("/b10/deep")).isValid());
    // A folder listed below a folder the tree does not hold is ignored.
    tree.setSubfolders(QStringLiteral("/nowhere"), entries(L({"x/"})));
    QVERIFY(!tree.indexOf(QStringLiteral("/nowhere/x")).isValid());

    tree.setSubfolders(QStringLiteral("/b10"), entries(L({"deep/"})));
    tree.setSubfolders(QStringLiteral("/b10/deep"), entries(L({"only.txt"})));
    const QModelIndex deep = tree.indexOf(QStringLiteral("/b10/deep"));
    QVERIFY(!tree.hasChildren(deep));  // listed, without folders
    QVERIFY(!tree.canFetchMore(deep));
    // Listed again with the same folders: the branch below stays.
    const QPersistentModelIndex kept(deep);
    tree.setSubfolders(QStringLiteral("/"), entries(L({"b9/", "b10/", "new.txt"})));
    QVERIFY(kept.isValid());
    // Other folders now: the branch is read again.
    tree.setSubfolders(QStringLiteral("/"), entries(L({"b10/", "c/"})));
    QVERIFY(!kept.isValid());
    QCOMPARE(tree.rowCount(root), 2);
    QVERIFY(tree.canFetchMore(tree.indexOf(QStringLiteral("/b10"))));
}

QTEST_GUILESS_MAIN(TestImageEntries)
#include "tst_image_entries.moc"

void TestImageEntries::nameFilter_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");
    const QStringList all = L({"readme.txt", "README", "说明.txt", "报告 10.docx", "a[1].txt", "notes.txt.bak", "x"});
    QTest::newRow("text anywhere, any case") << "READ" << L({"readme.txt", "README"});
    QTest::newRow("blanks around dropped") << "  说明 " << L({"说明.txt"});
    QTest::newRow("star is whole-name") << "*.txt" << L({"readme.txt", "说明.txt", "a[1].txt"});
    QTest::newRow("question is one character") << "?" << L({"x"});
    QTest::newRow("brackets literal") << "a[1]*" << L({"a[1].txt"});
    QTest::newRow("dot literal") << "readme?txt" << L({"readme.txt"});
    QTest::newRow("chinese with wildcard") << "报告 *.DOCX" << L({"报告 10.docx"});
    QTest::newRow("empty finds nothing") << "" << QStringList();
    QTest::newRow("no match") << "zzz" << QStringList();
    QTest::newRow("star finds all") << "*" << all;
}

void TestImageEntries::nameFilter()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    const QStringList all = L({"readme.txt", "README", "说明.txt", "报告 10.docx", "a[1].txt", "notes.txt.bak", "x"});
    const NameFilter filter(typed);
    QStringList got;
    for (const QString &name : all) {
        const QByteArray utf8 = name.toUtf8();
        QCOMPARE(filter.matches(QByteArrayView(utf8)), filter.matches(name));
        if (filter.matches(name))
            got << name;
    }
    QCOMPARE(got, found);
}

void TestImageEntries::addUpdates_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<QStringList>("replaced");  // the names answered "replace"
    QTest::addColumn<QStringList>("updates");   // "add SOURCE PATH" / "delete PATH"
    QTest::addColumn<QStringList>("asked");
    QTest::newRow("new names") << L({"/in/a.txt", "/in/dir/"}) << QStringList()
                               << L({"add /in/a.txt /W/a.txt", "add /in/dir /W/dir"}) << QStringList();
    QTest::newRow("taken, replaced") << L({"/in/Win.INI"}) << L({"win.ini"})
                                     << L({"delete /W/win.ini", "add /in/Win.INI /W/Win.INI"}) << L({"win.ini"});
    QTest::newRow("taken, skipped") << L({"/in/win.ini", "/in/b"}) << QStringList() << L({"add /in/b /W/b"})
                                    << L({"win.ini"});
    QTest::newRow("folder over file replaced")
        << L({"/x/System32"}) << L({"System32"}) << L({"delete /W/System32", "add /x/System32 /W/System32"})
        << L({"System32"});
    QTest::newRow("two of one name: the first")
        << L({"/a/n", "/b/N"}) << QStringList() << L({"add /a/n /W/n"}) << QStringList();
    QTest::newRow("root of a disk has no name") << L({"/"}) << QStringList() << QStringList() << QStringList();
}

void TestImageEntries::addUpdates()
{
    QFETCH(QStringList, sources);
    QFETCH(QStringList, replaced);
    QFETCH(QStringList, updates);
    QFETCH(QStringList, asked);
    const QList<WimDirEntry> existing = entries(L({"win.ini 10", "System32/", "Temp/"}));
    QStringList askedNames;
    const QList<ImagingUpdate> got = AddUpdates(sources, QStringLiteral("/W"), existing, [&](const WimDirEntry &taken) {
        askedNames << taken.name;
        return replaced.contains(taken.name);
    });
    QStringList described;
    for (const ImagingUpdate &u : got)
        described << (u.kind == ImagingUpdate::Kind::Add ? QStringLiteral("add %1 %2").arg(u.source, u.path)
                                                         : QStringLiteral("delete %1").arg(u.path));
    QCOMPARE(described, updates);
    QCOMPARE(askedNames, asked);
}

void TestImageEntries::newNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain") << "新建文件夹" << true;
    QTest::newRow("blank") << "  " << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("backslash is a character here") << "a\\b" << true;
}

void TestImageEntries::newNames()
{
    QFETCH(QString, name);
    QFETCH(bool, usable);
    QCOMPARE(EntryNameProblem(name).isEmpty(), usable);
    QCOMPARE(NewFolderName(entries(L({"a"}))), QStringLiteral("新建文件夹"));
    const QList<WimDirEntry> taken{entry(QStringLiteral("新建文件夹"), Type::Folder),
                                   entry(QStringLiteral("新建文件夹 (2)"))};
    QCOMPARE(NewFolderName(taken), QStringLiteral("新建文件夹 (3)"));
}

void TestImageEntries::pinyinOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("chinese");  // in order under zh_CN
    QTest::addColumn<QStringList>("other");    // under the C locale
    QTest::newRow("han by pinyin") << L({"张三", "李四", "阿明", "王五"}) << L({"阿明", "李四", "王五", "张三"})
                                   << L({"张三", "李四", "王五", "阿明"});
    QTest::newRow("numbers by value") << L({"报告 10", "报告 2", "报告 1"}) << L({"报告 1", "报告 2", "报告 10"})
                                      << L({"报告 1", "报告 2", "报告 10"});
    QTest::newRow("case aside") << L({"b", "B", "a"}) << L({"a", "B", "b"}) << L({"a", "B", "b"});
}

void TestImageEntries::pinyinOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, chinese);
    QFETCH(QStringList, other);
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    for (const QLocale &locale : {QLocale(QLocale::Chinese, QLocale::China), QLocale::c()}) {
        QLocale::setDefault(locale);
        const QStringList &expected = locale.language() == QLocale::Chinese ? chinese : other;
        QList<WimDirEntry> list;
        for (const QString &name : names)
            list << entry(name);
        SortEntries(list, EntryColumn::Name, Qt::AscendingOrder);
        QCOMPARE(::names(list), expected);
        QStringList compared = names;
        std::sort(compared.begin(), compared.end(),
                  [](const QString &a, const QString &b) { return CompareEntryNames(a, b) < 0; });
        QCOMPARE(compared, expected);
    }
}

void TestImageEntries::imageDetails_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("text");
    // As wimlib writes it: FILETIME halves in hexadecimal.
    QTest::newRow("whole")
        << "<IMAGE INDEX=\"1\"><DIRCOUNT>3</DIRCOUNT><FILECOUNT>12</FILECOUNT>"
           "<TOTALBYTES>1263616</TOTALBYTES><HARDLINKBYTES>0</HARDLINKBYTES>"
           "<CREATIONTIME><HIGHPART>0x01DB4A1E</HIGHPART><LOWPART>0x2A3B4C00</LOWPART></CREATIONTIME>"
           "<LASTMODIFICATIONTIME><HIGHPART>0x01DB4A1F</HIGHPART><LOWPART>0x00000000</LOWPART>"
           "</LASTMODIFICATIONTIME><NAME>x</NAME></IMAGE>"
        << "共 3 个文件夹、12 个文件，总大小 1.21MB，创建于 2024/12/09 09:38，修改于 2024/12/09 09:44";
    QTest::newRow("counts only") << "<IMAGE><FILECOUNT>0</FILECOUNT></IMAGE>"
                                 << "共 0 个文件";
    QTest::newRow("a time inside NAME is no time") << "<IMAGE><NAME>CREATIONTIME</NAME></IMAGE>"
                                                   << "";
    QTest::newRow("malformed number left out")
        << "<IMAGE><DIRCOUNT>many</DIRCOUNT><TOTALBYTES>0x10</TOTALBYTES></IMAGE>"
        << "总大小 0KB";  // as the image list shows sizes
    QTest::newRow("not xml") << "<IMAGE><DIRCOUNT>2"
                             << "";
}

void TestImageEntries::imageDetails()
{
    QFETCH(QString, xml);
    QFETCH(QString, text);
    QCOMPARE(ImageDetailsText(ReadImageDetails(xml), QTimeZone::utc()), text);
}
