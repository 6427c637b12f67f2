// The image texts as written into the metadata by capture and edit; an edit's
// store and read-back, and the image table's reading, against archives
// wimlib-imagex made.
#include "archive/image_table_read.h"
#include "archive/image_texts.h"
#include "imaging/wim_handle.h"
#include "imaging/wimlib_backend.h"
#include "test_archives.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// An image's name and description; its other texts empty.
ImageInfo texts(const char *name, const char *description = "")
{
    ImageInfo info;
    info.name = QString::fromUtf8(name);
    info.description = QString::fromUtf8(description);
    return info;
}

}  // namespace

Q_DECLARE_METATYPE(ImageInfo)

class TestImageTexts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writeImageTexts_data();
    void writeImageTexts();
    void changeImageTexts_data();
    void changeImageTexts();
    void readImageTable();

private:
    // A new archive at `path` of the tree, its one image named `name`.
    bool capture(const QString &path, const QString &name, const QStringList &more = {});

    WimlibBackend m_lib;
    QTemporaryDir m_dir;
    int m_archives = 0;
};

void TestImageTexts::initTestCase()
{
    QVERIFY(m_dir.isValid());
    testarchives::writeTree(m_dir.filePath(QStringLiteral("tree")), {{QStringLiteral("a.txt"), "a"}});
}

bool TestImageTexts::capture(const QString &path, const QString &name, const QStringList &more)
{
    const auto made = testarchives::runTool(
        QStringLiteral("wimlib-imagex"),
        QStringList{QStringLiteral("capture"), m_dir.filePath(QStringLiteral("tree")), path, name} + more);
    return made.exitCode == 0 || (qWarning("%s", qPrintable(made.output)), false);
}

void TestImageTexts::writeImageTexts_data()
{
    QTest::addColumn<QString>("xml");
    QTest::addColumn<ImageInfo>("given");
    QTest::addColumn<ImageInfo>("old");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("written");

    const QString empty = QStringLiteral("<IMAGE></IMAGE>");
    ImageInfo all = texts("n", "d");
    all.flags = QStringLiteral("f");
    all.displayName = QStringLiteral("dn");
    all.displayDescription = QStringLiteral("dd");
    QTest::newRow("new image: every text, in the metadata's order")
        << empty << all << ImageInfo() << true
        << QStringLiteral("<IMAGE><DESCRIPTION>d</DESCRIPTION><NAME>n</NAME><FLAGS>f</FLAGS>"
                          "<DISPLAYDESCRIPTION>dd</DISPLAYDESCRIPTION><DISPLAYNAME>dn</DISPLAYNAME></IMAGE>");
    QTest::newRow("new image: an empty text is left out")
        << empty << texts("n") << ImageInfo() << true << QStringLiteral("<IMAGE><NAME>n</NAME></IMAGE>");
    QTest::newRow("edit: only what changed is written, the rest kept as spelled")
        << QStringLiteral("<IMAGE><NAME>old</NAME><DESCRIPTION>d &#x41;</DESCRIPTION></IMAGE>") << texts("new", "d A")
        << texts("old", "d A") << true
        << QStringLiteral("<IMAGE><NAME>new</NAME><DESCRIPTION>d &#x41;</DESCRIPTION></IMAGE>");
    QTest::newRow("unclosed old value: refused")
        << QStringLiteral("<IMAGE><NAME>cut") << texts("new") << texts("cut") << false << QString();
}

void TestImageTexts::writeImageTexts()
{
    QFETCH(QString, xml);
    QFETCH(ImageInfo, given);
    QFETCH(ImageInfo, old);
    QFETCH(bool, ok);
    QFETCH(QString, written);
    QCOMPARE(WriteImageTexts(xml, given, old), ok);
    if (ok)
        QCOMPARE(xml, written);
}

void TestImageTexts::changeImageTexts_data()
{
    QTest::addColumn<uint32_t>("access");
    QTest::addColumn<uint32_t>("index");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("heldName");  // in `held`, and in the archive afterwards

    using Kind = ImagingError::Kind;
    QTest::newRow("stored") << WIM_GENERIC_READ_WRITE << 1u << int(ImageTextsChange::Stored) << int(Kind::None)
                            << QStringLiteral("new");
    QTest::newRow("read-only handle: refused, the archive's texts read back")
        << WIM_GENERIC_READ << 1u << int(ImageTextsChange::Refused) << int(Kind::ArchiveReadOnly)
        << QStringLiteral("stored");
    QTest::newRow("no such image: not read") << WIM_GENERIC_READ_WRITE << 2u << int(ImageTextsChange::NotRead)
                                             << int(Kind::Other) << QStringLiteral("stored");
}

void TestImageTexts::changeImageTexts()
{
    QFETCH(uint32_t, access);
    QFETCH(uint32_t, index);
    QFETCH(int, result);
    QFETCH(int, kind);
    QFETCH(QString, heldName);

    // What the list shows differs from the archive in the description: it is
    // unchanged by the edit, so it is not written.
    const QString path = m_dir.filePath(QStringLiteral("a%1.wim").arg(++m_archives));
    QVERIFY(capture(path, QStringLiteral("stored"), {QStringLiteral("kept")}));
    ImageInfo current = texts("stored", "listed");
    current.expandedBytes = 42;
    ImageInfo wanted = current;
    wanted.name = QStringLiteral("new");

    ImageTextsChange change;
    {
        const WimHandle wim(m_lib, m_lib.WIMCreateFile(path, access, WIM_OPEN_EXISTING, 0, 0, nullptr));
        QVERIFY(wim);
        change = ChangeImageTexts(m_lib, wim.get(), index, current, wanted);
    }
    QCOMPARE(int(change.result), result);
    QCOMPARE(int(change.why.kind), kind);
    QCOMPARE(testarchives::wimInfo(path).names, QStringList{heldName});
    QCOMPARE(testarchives::wimInfo(path).descriptions, QStringList{QStringLiteral("kept")});
    if (change.result == ImageTextsChange::NotRead)
        return;
    QCOMPARE(change.held.name, heldName);
    QCOMPARE(change.held.description,
             change.result == ImageTextsChange::Stored ? QStringLiteral("listed") : QStringLiteral("kept"));
    QCOMPARE(change.held.expandedBytes, quint64(42));
}

void TestImageTexts::readImageTable()
{
    const QString path = m_dir.filePath(QStringLiteral("a%1.wim").arg(++m_archives));
    QVERIFY(capture(path, QStringLiteral("one"), {QStringLiteral("--compress=none")}));
    const auto appended = testarchives::runTool(QStringLiteral("wimlib-imagex"),
                                                {QStringLiteral("append"), m_dir.filePath(QStringLiteral("tree")), path,
                                                 QStringLiteral("two"), QStringLiteral("--boot")});
    QVERIFY2(appended.exitCode == 0, qPrintable(appended.output));
    const WimHandle wim(m_lib, m_lib.WIMCreateFile(path, WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
    ImageTable table;
    table.append().name = QStringLiteral("left over");
    const ImageTableRead read = ReadImageTable(m_lib, wim.get(), table);
    QCOMPARE(int(read.result), int(ImageTableRead::Read));
    QCOMPARE(table.count, 2);
    QCOMPARE(table.records[0].name, QStringLiteral("one"));
    QCOMPARE(table.records[1].name, QStringLiteral("two"));
    QVERIFY(table.records[1].expandedBytes > 0);
    QCOMPARE(table.bootRow, 1);
    QCOMPARE(table.compression, qint16(WIM_COMPRESS_NONE));
    QCOMPARE(read.totalParts, 1);
}

QTEST_GUILESS_MAIN(TestImageTexts)
#include "tst_image_texts.moc"
