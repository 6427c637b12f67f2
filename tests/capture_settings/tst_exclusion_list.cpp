// The exclusion list's file: its byte layout, loading what others wrote,
// first start, the old file's removal and damaged files.
#include "capture_settings/exclusion_list.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray utf16le(const QString &s)
{
    QByteArray out;
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray units(std::initializer_list<char16_t> list)
{
    QByteArray out;
    for (char16_t u : list) {
        out.append(char(u & 0xFF));
        out.append(char(u >> 8));
    }
    return out;
}

ExclusionList listOf(const QStringList &entries)
{
    ExclusionList l;
    for (const QString &e : entries)
        l.append(e);
    return l;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList loaded(const QString &dir)
{
    ExclusionList l;
    LoadExclusionList(l, dir);
    return l.entries();
}

}  // namespace

class TestExclusionList : public QObject
{
    Q_OBJECT

private slots:
    void byteLayoutOfTheExample();
    void roundTrip_data();
    void roundTrip();
    void load_data();
    void load();
    void firstStartGivesDefaultsAndWritesNothing();
    void oldFileDeletedWhenNewOneExists();
    void oldFileKeptWithoutNewOne();
    void emptyListWritesNothing();
    void saveAfterEdits_data();
    void saveAfterEdits();
    void saveReplacesLongerFile();
    void loadReplacesWhatTheListHeld();
    void saveIntoMissingFolderFails();
    void fileThatIsNoFileGivesEmptyList_data();
    void fileThatIsNoFileGivesEmptyList();
    void hugeFileLoadsWhatFitsTheCap();
};

void TestExclusionList::byteLayoutOfTheExample()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(
        SaveExclusionList(listOf({QStringLiteral("\\hiberfil.sys"), QStringLiteral("\\windows\\temp\\")}), dir.path()));
    const QByteArray bytes = readFile(dir.filePath(QStringLiteral("set2.data")));
    QCOMPARE(bytes.size(), 58);
    QCOMPARE(bytes.left(4), QByteArray("\x5C\x00\x68\x00", 4));
    QCOMPARE(bytes.right(4), QByteArray("\x70\x00\x5C\x00", 4));
    // The separator sits right after the 13 units of the first entry.
    QCOMPARE(bytes.mid(26, 4), QByteArray("\x0D\x00\x0A\x00", 4));
    QCOMPARE(bytes, utf16le(QStringLiteral("\\hiberfil.sys\r\n\\windows\\temp\\")));
}

void TestExclusionList::roundTrip_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("defaults") << ExclusionList::defaults();
    QTest::newRow("one entry") << QStringList{QStringLiteral("\\")};
    QTest::newRow("duplicates keep order")
        << QStringList{QStringLiteral("\\b\\"), QStringLiteral("\\a"), QStringLiteral("\\b\\")};
    QTest::newRow("Chinese and a surrogate pair")
        << QStringList{QStringLiteral("\\数据\\备份.iso"), QString::fromUtf8("\\\xF0\x9F\x93\x81\\"),
                       QStringLiteral("\\Data\\Big.ISO")};
    QTest::newRow("spaces and a lone carriage return inside")
        << QStringList{QStringLiteral("\\system volume information\\"), QStringLiteral("\\a\rb")};
}

void TestExclusionList::roundTrip()
{
    QFETCH(QStringList, entries);
    QTemporaryDir dir;
    QVERIFY(SaveExclusionList(listOf(entries), dir.path()));
    QCOMPARE(loaded(dir.path()), entries);
}

void TestExclusionList::load_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    const QString a = QStringLiteral("\\a.sys");
    const QString b = QStringLiteral("\\b\\");
    QTest::newRow("CR LF between") << utf16le(a + QStringLiteral("\r\n") + b) << QStringList{a, b};
    QTest::newRow("LF only") << utf16le(a + QStringLiteral("\n") + b + QStringLiteral("\n")) << QStringList{a, b};
    QTest::newRow("trailing CR LF") << utf16le(a + QStringLiteral("\r\n") + b + QStringLiteral("\r\n"))
                                    << QStringList{a, b};
    QTest::newRow("empty lines skipped") << utf16le(QStringLiteral("\r\n") + a + QStringLiteral("\r\n\r\n\n") + b
                                                    + QStringLiteral("\r\n\r\n"))
                                         << QStringList{a, b};
    QTest::newRow("only one CR dropped") << utf16le(a + QStringLiteral("\r\r\n"))
                                         << QStringList{a + QStringLiteral("\r")};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("only line ends") << utf16le(QStringLiteral("\r\n\n\r\n")) << QStringList{};
    QTest::newRow("odd size drops the last byte")
        << utf16le(a + QStringLiteral("\r\n") + b) + QByteArray("\x41", 1) << QStringList{a, b};
    QTest::newRow("single byte") << QByteArray("\x5C", 1) << QStringList{};
    QTest::newRow("lone surrogates kept as units")
        << units({u'\\', 0xD800, u'x', u'\r', u'\n', u'\\', 0xDC00})
        << QStringList{QString(QChar(u'\\')) + QChar(0xD800) + QChar(u'x'), QString(QChar(u'\\')) + QChar(0xDC00)};
    QTest::newRow("NUL ends the entry") << units({u'\\', u'a', 0, u'b', u'\r', u'\n', 0, u'c', u'\n', u'\\', u'd'})
                                        << QStringList{QStringLiteral("\\a"), QStringLiteral("\\d")};
    // As text editors write the file.
    QTest::newRow("byte-order mark skipped")
        << units({0xFEFF}) + utf16le(a + QStringLiteral("\r\n") + b) << QStringList{a, b};
    QTest::newRow("only a byte-order mark") << units({0xFEFF}) << QStringList{};
    QTest::newRow("big-endian after its mark") << QByteArray("\xFE\xFF\x00\x5C\x00\x61\x00\x0D\x00\x0A\x4E\x2D", 12)
                                               << QStringList{QStringLiteral("\\a"), QStringLiteral("中")};
    QTest::newRow("mark inside the text stays") << utf16le(a + QStringLiteral("\n")) + units({0xFEFF}) + utf16le(b)
                                                << QStringList{a, QString(QChar(0xFEFF)) + b};
    QStringList many;
    for (int i = 0; i <= ExclusionList::kMaxEntries; ++i)
        many << QStringLiteral("\\%1").arg(i);
    QTest::newRow("capped by entries") << utf16le(many.join(QStringLiteral("\r\n")))
                                       << many.mid(0, ExclusionList::kMaxEntries);
}

void TestExclusionList::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("set2.data")), bytes));
    QCOMPARE(loaded(dir.path()), expected);
}

void TestExclusionList::firstStartGivesDefaultsAndWritesNothing()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("set.data")), utf16le(QStringLiteral("\\old"))));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    const QStringList entries = loaded(dir.path());
    QCOMPARE(entries, (QStringList{
                          QStringLiteral("\\hiberfil.sys"),
                          QStringLiteral("\\pagefile.sys"),
                          QStringLiteral("\\swapfile.sys"),
                          QStringLiteral("\\$recycle.bin\\"),
                          QStringLiteral("\\system volume information\\"),
                          QStringLiteral("\\windows\\logs\\"),
                          QStringLiteral("\\windows\\csc\\"),
                          QStringLiteral("\\windows\\temp\\"),
                      }));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("set.data"))), utf16le(QStringLiteral("\\old")));
}

void TestExclusionList::oldFileDeletedWhenNewOneExists()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("set.data")), utf16le(QStringLiteral("\\from-old"))));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("set2.data")), utf16le(QStringLiteral("\\from-new"))));
    QCOMPARE(loaded(dir.path()), QStringList{QStringLiteral("\\from-new")});
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("set.data"))));
}

void TestExclusionList::oldFileKeptWithoutNewOne()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("set.data")), utf16le(QStringLiteral("\\from-old"))));
    QCOMPARE(loaded(dir.path()), ExclusionList::defaults());
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("set.data"))));
}

void TestExclusionList::emptyListWritesNothing()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("set2.data"));
    QVERIFY(SaveExclusionList(ExclusionList(), dir.path()));
    QVERIFY(!QFile::exists(file));

    const QByteArray before = utf16le(QStringLiteral("\\kept\r\n\\too\\"));
    QVERIFY(writeFile(file, before));
    QVERIFY(SaveExclusionList(ExclusionList(), dir.path()));
    QCOMPARE(readFile(file), before);
}

void TestExclusionList::saveAfterEdits_data()
{
    QTest::addColumn<QByteArray>("before");  // set2.data at the start; null: none
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QByteArray>("after");  // null: no file
    const QByteArray none;
    QTest::newRow("emptied on purpose") << utf16le(QStringLiteral("\\a\r\n\\b")) << "remove all" << QByteArray("");
    QTest::newRow("defaults emptied") << none << "remove all" << QByteArray("");
    QTest::newRow("added and removed") << QByteArray("") << "add, remove" << QByteArray("");
    QTest::newRow("empty, untouched: no write")
        << utf16le(QStringLiteral("\r\n")) << "" << utf16le(QStringLiteral("\r\n"));
    // Unchanged, nothing is written: the defaults stay built in, a file stays as it is.
    QTest::newRow("first start, untouched") << none << "" << none;
    QTest::newRow("a file untouched") << units({0xFEFF}) + utf16le(QStringLiteral("\\a")) << ""
                                      << units({0xFEFF}) + utf16le(QStringLiteral("\\a"));
}

void TestExclusionList::saveAfterEdits()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, edit);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("set2.data"));
    if (!before.isNull())
        QVERIFY(writeFile(file, before));
    ExclusionList l;
    LoadExclusionList(l, dir.path());
    QVERIFY(!l.isEdited());
    if (edit.startsWith(QLatin1String("add")))
        QVERIFY(l.append(QStringLiteral("\\x")));
    if (edit.contains(QLatin1String("remove")))
        while (l.count() > 0)
            l.removeAt(0);
    QString error;
    QVERIFY(SaveExclusionList(l, dir.path(), &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(QFile::exists(file), !after.isNull());
    if (!after.isNull())
        QCOMPARE(readFile(file), after);
    // What was saved is what the next start sees.
    QCOMPARE(loaded(dir.path()), l.entries());
}

void TestExclusionList::saveReplacesLongerFile()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("set2.data"));
    QVERIFY(writeFile(file, utf16le(QStringLiteral("\\a-much-longer-entry\r\n\\and-another-one\\"))));
    QVERIFY(SaveExclusionList(listOf({QStringLiteral("\\x")}), dir.path()));
    QCOMPARE(readFile(file), utf16le(QStringLiteral("\\x")));
    // Nothing left beside it from the replacement.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("set2.data")});
}

void TestExclusionList::loadReplacesWhatTheListHeld()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("set2.data")), utf16le(QStringLiteral("\\only"))));
    ExclusionList l = listOf({QStringLiteral("\\stale")});
    LoadExclusionList(l, dir.path());
    QCOMPARE(l.entries(), QStringList{QStringLiteral("\\only")});
}

void TestExclusionList::saveIntoMissingFolderFails()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("no/such/folder"));
    QString error;
    QVERIFY(!SaveExclusionList(listOf({QStringLiteral("\\a")}), missing, &error));
    // The path, then why, in the user's language.
    QCOMPARE(error, missing + QStringLiteral("/set2.data: 文件或文件夹不存在"));
    QVERIFY(!QFile::exists(missing));
}

void TestExclusionList::fileThatIsNoFileGivesEmptyList_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << QStringLiteral("folder");
    QTest::newRow("fifo") << QStringLiteral("fifo");
}

void TestExclusionList::fileThatIsNoFileGivesEmptyList()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set2.data"));
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    else
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    // Exists but cannot be read as a list: empty, not the defaults, and no hang on the FIFO.
    QCOMPARE(loaded(dir.path()), QStringList{});
}

void TestExclusionList::hugeFileLoadsWhatFitsTheCap()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("set2.data"));
    // 17 MiB of 10,004-byte lines: more than is read, fewer lines than the
    // entry cap, and the byte cap falls inside a line.
    const QString entry = QStringLiteral("\\") + QString(4999, QLatin1Char('x'));
    const QByteArray line = utf16le(entry + QStringLiteral("\r\n"));
    QCOMPARE(line.size(), 10004);
    const qint64 cap = 16 * 1024 * 1024;
    const int lines = int((17 * 1024 * 1024) / line.size());
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < lines; ++i)
            QCOMPARE(f.write(line), line.size());
    }
    ExclusionList l;
    LoadExclusionList(l, dir.path());
    // Every whole line inside the cap, none of the cut one.
    QCOMPARE(l.count(), int(cap / line.size()));
    QVERIFY(l.count() < ExclusionList::kMaxEntries);
    QCOMPARE(l.at(0), entry);
    QCOMPARE(l.at(l.count() - 1), entry);
}

QTEST_GUILESS_MAIN(TestExclusionList)
#include "tst_exclusion_list.moc"
