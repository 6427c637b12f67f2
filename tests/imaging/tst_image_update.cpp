// Changing an image's files in place: pellwick-wim update against
// wimlib-imagex update on copies of one archive, all or nothing, and the
// boundary's refusals.
#include "imaging/image_update_script.h"
#include "imaging/wimlib_backend.h"
#include "imaging_test_support.h"
#include "memory_imaging.h"
#include "test_archives.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>

using namespace imagingtest;
using testarchives::runTool;
using Kind = ImagingError::Kind;
using Update = ImagingUpdate;

Q_DECLARE_METATYPE(QList<ImagingUpdate>)

namespace {

const QString kTool = QStringLiteral(PELLWICK_WIM_TOOL);

// The first read of a fresh file moves its access time (relatime), so the
// tool that reads a tree second would record another time than the first:
// every access time under `root` is set an hour ahead, which no read moves.
bool settleAccessTimes(const QString &root)
{
    const timespec times[2] = {{std::time(nullptr) + 3600, 0}, {0, UTIME_OMIT}};
    QStringList paths{root};
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    for (const QString &path : paths) {
        if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
    }
    return true;
}

// A program run with `input` on its standard input.
testarchives::ToolResult runWithInput(const QString &program, const QStringList &args, const QByteArray &input)
{
    return runTool(program, args, 120000, input);
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

}  // namespace

class TestImageUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void sameAsThePeer_data();
    void sameAsThePeer();
    void allOrNothing_data();
    void allOrNothing();
    void refusals();

private:
    QString script(QString text) const { return text.replace(QLatin1String("ADD"), m_add); }

    QTemporaryDir m_dir;
    QString m_start;  // two images, "one" and "two", of the sample tree
    QString m_add;    // what the adds take
};

void TestImageUpdate::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to make and check archives");
    QVERIFY(m_dir.isValid());
    const QString sample = m_dir.filePath(QStringLiteral("sample"));
    QVERIFY(makeSampleTree(sample));
    m_add = m_dir.filePath(QStringLiteral("add"));
    QVERIFY(makeSampleTree(m_add));
    QVERIFY(makeDataTree(m_add + QStringLiteral("/data"), 4, 50000));
    QVERIFY(settleAccessTimes(m_add));
    m_start = m_dir.filePath(QStringLiteral("start.wim"));
    QCOMPARE(
        runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("capture"), sample, m_start, QStringLiteral("one")})
            .exitCode,
        0);
    QCOMPARE(
        runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("append"), sample, m_start, QStringLiteral("two")})
            .exitCode,
        0);
}

void TestImageUpdate::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<ImagingUpdate>>("updates");
    QTest::addColumn<QString>("error");  // empty: parsed
    QTest::newRow("each command")
        << QStringLiteral("add /src /dst\ndelete /old\nrename /a /b\n")
        << QList<Update>{{Update::Kind::Add, QStringLiteral("/src"), QStringLiteral("/dst"), {}},
                         {Update::Kind::Delete, {}, QStringLiteral("/old"), {}},
                         {Update::Kind::Rename, {}, QStringLiteral("/a"), QStringLiteral("/b")}}
        << QString();
    QTest::newRow("quotes, blanks, comments")
        << QStringLiteral("# a comment\n\n  add \"/my files\" '/新 文件夹'\t\n")
        << QList<Update>{{Update::Kind::Add, QStringLiteral("/my files"), QStringLiteral("/新 文件夹"), {}}}
        << QString();
    QTest::newRow("unknown command") << QStringLiteral("delete /a\nmove /a /b") << QList<Update>{}
                                     << QStringLiteral("line 2: unknown command");
    QTest::newRow("too few words") << QStringLiteral("rename /a") << QList<Update>{}
                                   << QStringLiteral("line 1: rename takes OLD_PATH NEW_PATH");
    QTest::newRow("too many words") << QStringLiteral("\ndelete /a /b") << QList<Update>{}
                                    << QStringLiteral("line 2: delete takes IMAGE_PATH");
    QTest::newRow("an option") << QStringLiteral("delete --recursive /a") << QList<Update>{}
                               << QStringLiteral("line 1: options such as --recursive");
    QTest::newRow("unclosed quote") << QStringLiteral("add \"/a /b") << QList<Update>{}
                                    << QStringLiteral("line 1: a quote is not closed");
    QTest::newRow("empty path") << QStringLiteral("delete \"\"") << QList<Update>{}
                                << QStringLiteral("line 1: an empty path");
}

void TestImageUpdate::parse()
{
    QFETCH(QString, text);
    QFETCH(QList<ImagingUpdate>, updates);
    QFETCH(QString, error);
    QList<ImagingUpdate> parsed{{Update::Kind::Delete, {}, QStringLiteral("/stale"), {}}};
    QString why;
    QCOMPARE(parseImageUpdates(text, &parsed, &why), error.isEmpty());
    QCOMPARE(parsed, updates);
    QVERIFY2(why.startsWith(error), qPrintable(why));
}

// The folders an add makes on the way to its target ("/新的" for "/新的/added")
// take the time of the update itself, which differs between the two tools'
// runs: their time lines are left out of the comparison.
static QString withoutFillerTimes(const QString &listing)
{
    QStringList blocks = listing.split(QStringLiteral("\n----"));
    for (QString &block : blocks) {
        if (!block.contains(QStringLiteral("Full Path           = \"/新的\"\n")))
            continue;
        QStringList lines = block.split(QLatin1Char('\n'));
        lines.removeIf([](const QString &line) { return line.contains(QStringLiteral(" Time ")); });
        block = lines.join(QLatin1Char('\n'));
    }
    return blocks.join(QStringLiteral("\n----"));
}

void TestImageUpdate::sameAsThePeer_data()
{
    QTest::addColumn<QString>("commands");  // ours; the peer's deletes take --recursive
    QTest::newRow("add a folder as a new one") << QStringLiteral("add ADD /新的/added\n");
    QTest::newRow("add a folder into the root, merged, files replaced") << QStringLiteral("add ADD /\n");
    QTest::newRow("add a file over a file") << QStringLiteral("add ADD/readme.txt /a/b/c/deep.dat\n");
    QTest::newRow("delete a folder") << QStringLiteral("delete /a\n");
    QTest::newRow("rename a file and a folder")
        << QStringLiteral("rename /readme.txt /a/改名.txt\nrename \"/empty folder\" /中文目录/moved\n");
    QTest::newRow("all three") << QStringLiteral("add ADD/data /data\ndelete /中文目录\nrename /data /数据\n");
}

void TestImageUpdate::sameAsThePeer()
{
    QFETCH(QString, commands);
    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("ours.wim"));
    const QString peers = dir.filePath(QStringLiteral("peer.wim"));
    QVERIFY(QFile::copy(m_start, ours) && QFile::copy(m_start, peers));
    QVERIFY(QFile::setPermissions(ours, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QVERIFY(QFile::setPermissions(peers, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QByteArray input = script(commands).toUtf8();
    QByteArray peerInput = input;
    peerInput.replace("delete ", "delete --recursive ");

    const auto r = runWithInput(kTool, {QStringLiteral("update"), ours, QStringLiteral("2")}, input);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const auto p = runWithInput(QStringLiteral("wimlib-imagex"), {QStringLiteral("update"), peers, QStringLiteral("2")},
                                peerInput);
    QVERIFY2(p.exitCode == 0, qPrintable(p.output));

    const auto detailed = [](const QString &wim, const QString &index) {
        return runTool(QStringLiteral("wimlib-imagex"),
                       {QStringLiteral("dir"), wim, index, QStringLiteral("--detailed")});
    };
    const auto ourList = detailed(ours, QStringLiteral("2"));
    QCOMPARE(ourList.exitCode, 0);
    QCOMPARE(withoutFillerTimes(ourList.output), withoutFillerTimes(detailed(peers, QStringLiteral("2")).output));
    // The other image (its blobs' reference counts aside) and the texts stay as they were.
    QCOMPARE(detailed(ours, QStringLiteral("1")).output, detailed(peers, QStringLiteral("1")).output);
    QCOMPARE(testarchives::wimDir(ours, 1), testarchives::wimDir(m_start, 1));
    QCOMPARE(testarchives::wimInfo(ours).names, (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    QString verify;
    QVERIFY2(testarchives::wimVerify(ours, &verify), qPrintable(verify));

    for (const QString &wim : {ours, peers}) {
        const QString to = dir.filePath(QFileInfo(wim).baseName());
        const auto a =
            runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("apply"), wim, QStringLiteral("2"), to});
        QVERIFY2(a.exitCode == 0, qPrintable(a.output));
    }
    QCOMPARE(treeOf(dir.filePath(QStringLiteral("ours"))), treeOf(dir.filePath(QStringLiteral("peer"))));
}

void TestImageUpdate::allOrNothing_data()
{
    QTest::addColumn<QString>("commands");
    QTest::addColumn<QString>("said");
    QTest::newRow("an invalid line after valid ones")
        << QStringLiteral("add ADD /x\ndelete /a\nremove /readme.txt\n") << QStringLiteral("line 3: unknown command");
    QTest::newRow("a missing path after an add")
        << QStringLiteral("add ADD /x\ndelete /nowhere\n") << QStringLiteral("update 2 of 2 (delete /nowhere)");
    QTest::newRow("a missing source") << QStringLiteral("delete /a\nadd ADD/none /x\n")
                                      << QStringLiteral("update 2 of 2 (add ");
    QTest::newRow("a folder over a file")
        << QStringLiteral("add ADD/a /readme.txt\n") << QStringLiteral("update 1 of 1 (add ");
}

void TestImageUpdate::allOrNothing()
{
    QFETCH(QString, commands);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    QVERIFY(QFile::copy(m_start, wim));
    QVERIFY(QFile::setPermissions(wim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QByteArray before = digest(wim);
    const auto r = runWithInput(kTool, {QStringLiteral("update"), wim, QStringLiteral("1")}, script(commands).toUtf8());
    QVERIFY(r.exitCode != 0);
    QVERIFY2(r.output.contains(said) && r.output.contains(QLatin1String("nothing was changed")), qPrintable(r.output));
    QCOMPARE(digest(wim), before);
}

void TestImageUpdate::refusals()
{
    // A library without the call says so.
    MemoryImaging stub;
    QVERIFY(!stub.WIMUpdateImage(MemoryImaging::fakeHandle(), {}));
    QCOMPARE(int(stub.LastError().kind), int(Kind::Unsupported));

    WimlibBackend lib;
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    QVERIFY(QFile::copy(m_start, wim));
    QVERIFY(QFile::setPermissions(wim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QByteArray before = digest(wim);
    const QList<Update> add{{Update::Kind::Add, m_add, QStringLiteral("/x"), {}}};
    {
        WimHandle readOnly(lib, openWim(lib, wim, WIM_GENERIC_READ));
        WimHandle image(lib, lib.WIMLoadImage(readOnly.get(), 1));
        QVERIFY(!lib.WIMUpdateImage(image.get(), add));
        QCOMPARE(int(lib.LastError().kind), int(Kind::ArchiveReadOnly));
    }
    WimHandle archive(lib, openWim(lib, wim));
    WimHandle image(lib, lib.WIMLoadImage(archive.get(), 1));
    // The archive inside the folder being added would be read while it is written.
    QVERIFY(!lib.WIMUpdateImage(image.get(), {{Update::Kind::Add, dir.path(), QStringLiteral("/x"), {}}}));
    QCOMPARE(int(lib.LastError().kind), int(Kind::WouldOverwriteArchive));
    // An abort during the scan writes nothing.
    const auto abort = [](uint32_t message, uintptr_t, intptr_t, void *) -> uint32_t {
        return message == WIM_MSG_PROCESS ? WIM_MSG_ABORT_IMAGE : WIM_MSG_SUCCESS;
    };
    QVERIFY(lib.WIMRegisterMessageCallback(nullptr, abort, nullptr) != INVALID_CALLBACK_VALUE);
    QVERIFY(!lib.WIMUpdateImage(image.get(), add));
    QCOMPARE(int(lib.LastError().kind), int(Kind::Aborted));
    QVERIFY(lib.WIMUnregisterMessageCallback(nullptr, abort));
    QCOMPARE(digest(wim), before);
    // Another program changed the archive since this handle read it.
    const auto other = runTool(QStringLiteral("wimlib-imagex"),
                               {QStringLiteral("info"), wim, QStringLiteral("1"), QStringLiteral("renamed")});
    QVERIFY2(other.exitCode == 0, qPrintable(other.output));
    const QByteArray theirs = digest(wim);
    QVERIFY(!lib.WIMUpdateImage(image.get(), add));
    QCOMPARE(int(lib.LastError().kind), int(Kind::ChangedOnDisk));
    QCOMPARE(digest(wim), theirs);
    // Read again, it takes the change.
    QVERIFY2(lib.WIMUpdateImage(image.get(), add), qPrintable(lib.LastErrorText()));
    QVERIFY(testarchives::wimDir(wim, 1).contains(QStringLiteral("/x/data")));
}

QTEST_GUILESS_MAIN(TestImageUpdate)
#include "tst_image_update.moc"
