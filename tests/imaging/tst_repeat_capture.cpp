// A repeat capture of the wimlib backend: the image equals a full read's,
// unchanged files are taken from the newest image of the same source, and
// percentages count only what is read.
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_progress.h"
#include "imaging_test_support.h"
#include "message_recorder.h"
#include "support/clock.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>

using namespace imagingtest;
using testarchives::rewriteKeepingTimes;
using testarchives::runTool;

namespace {

// Sets a file's modification time `seconds` later than it is: a touch.
bool touchLater(const QString &path, int seconds)
{
    struct stat st;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) != 0)
        return false;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    times[1].tv_sec += seconds;
    return ::utimensat(AT_FDCWD, native.constData(), times, 0) == 0;
}

bool put(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Reads every file once, so that no access time moves between two captures.
void readAll(const QString &root)
{
    treeOf(root);
}

QString detailedDir(const QString &wim, int index)
{
    const auto r = runTool(QStringLiteral("wimlib-imagex"),
                           {QStringLiteral("dir"), wim, QString::number(index), QStringLiteral("--detailed")});
    return r.exitCode == 0 ? r.output : QStringLiteral("wimlib-imagex dir failed: ") + r.output;
}

// One file of image `index`, extracted by the peer.
QByteArray storedBytes(const QString &wim, int index, const QString &imagePath, const QString &scratch)
{
    QDir(scratch).removeRecursively();
    QDir().mkpath(scratch);
    const auto r = runTool(QStringLiteral("wimlib-imagex"),
                           {QStringLiteral("extract"), wim, QString::number(index), imagePath,
                            QStringLiteral("--dest-dir=") + scratch, QStringLiteral("--no-acls")});
    return r.exitCode == 0 ? fileBytes(scratch + QLatin1Char('/') + QFileInfo(imagePath).fileName()) : QByteArray();
}

// Moves on 5 ms at every reading, so that every stretch of a call takes time.
class TickingClock : public Clock
{
public:
    TickingClock() { setAppClock(this); }
    ~TickingClock() override { setAppClock(nullptr); }
    qint64 wallSeconds() override { return 1'700'000'000; }
    qint64 monotonicMs() override { return m_ms += 5; }
    void sleepMs(int) override {}

private:
    std::atomic<qint64> m_ms{0};
};

}  // namespace

class TestRepeatCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void equalsAFullRead();
    void newestImageOfTheSameSourceIsTheReference();
    void unchangedTreeReadsNothing();
    void percentagesAreSharesOfTheExpectedTime_data();
    void percentagesAreSharesOfTheExpectedTime();

private:
    HWIM capture(HWIM wim, const QString &path, uint32_t flags, MessageRecorder *recorder = nullptr);

    WimlibBackend m_lib;
    QTemporaryDir m_dir;
    QString m_tree;
    QString m_wim;
};

void TestRepeatCapture::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex is needed to read the images back");
    QVERIFY(m_dir.isValid());
}

void TestRepeatCapture::init()
{
    static int round = 0;
    ++round;
    m_tree = m_dir.filePath(QStringLiteral("tree%1").arg(round));
    m_wim = m_dir.filePath(QStringLiteral("a%1.wim").arg(round));
    QVERIFY(makeSampleTree(m_tree));
    QVERIFY(makeDataTree(m_tree + QStringLiteral("/data"), 24, 24 * 3000));
}

HWIM TestRepeatCapture::capture(HWIM wim, const QString &path, uint32_t flags, MessageRecorder *recorder)
{
    if (!recorder)
        return m_lib.WIMCaptureImage(wim, path, flags);
    if (m_lib.WIMRegisterMessageCallback(nullptr, &MessageRecorder::callback, recorder) == INVALID_CALLBACK_VALUE)
        return nullptr;
    HWIM image = m_lib.WIMCaptureImage(wim, path, flags);
    m_lib.WIMUnregisterMessageCallback(nullptr, &MessageRecorder::callback);
    return image;
}

void TestRepeatCapture::equalsAFullRead()
{
    WimHandle wim(m_lib, createWim(m_lib, m_wim));
    QVERIFY(wim);
    QVERIFY(put(m_tree + QStringLiteral("/secret.txt"), "excluded from the second capture on"));
    QVERIFY(WimHandle(m_lib, capture(wim.get(), m_tree, 0)));

    const QString data = m_tree + QStringLiteral("/data/");
    QVERIFY(put(data + QStringLiteral("d0/f0.bin"), noise(5000, 7)));                     // changed, grown
    QVERIFY(put(data + QStringLiteral("d1/f1.bin"), noise(3000, 8)));                     // changed, same size
    QVERIFY(touchLater(data + QStringLiteral("d1/f1.bin"), 5));                           // ... and a new time
    QVERIFY(put(data + QStringLiteral("d2/new.bin"), noise(4000, 9)));                    // added
    QVERIFY(put(m_tree + QStringLiteral("/new folder/x.txt"), "added with its folder"));  // added folder
    QVERIFY(QFile::remove(data + QStringLiteral("d3/f3.bin")));                           // deleted
    QVERIFY(QDir(m_tree + QStringLiteral("/a/b/c")).removeRecursively());                 // deleted folder
    QVERIFY(QFile::rename(data + QStringLiteral("d0/f4.bin"), data + QStringLiteral("d2/moved.bin")));  // renamed
    QVERIFY(touchLater(data + QStringLiteral("d1/f5.bin"), 3));                                         // touched only
    readAll(m_tree);

    MessageRecorder repeat;
    MessageRecorder full;
    for (MessageRecorder *r : {&repeat, &full})
        r->exclude = [](const QString &path) { return path.endsWith(QLatin1String("/secret.txt")); };
    WimHandle second(m_lib, capture(wim.get(), m_tree, 0, &repeat));
    QVERIFY2(second, qPrintable(m_lib.LastErrorText()));
    WimHandle third(m_lib, capture(wim.get(), m_tree, WIM_FLAG_FULL_READ, &full));
    QVERIFY2(third, qPrintable(m_lib.LastErrorText()));
    QVERIFY(wim.close());

    const QString repeated = detailedDir(m_wim, 2);
    QVERIFY(repeated.contains(QLatin1String("/data/d2/moved.bin")));
    QVERIFY(!repeated.contains(QLatin1String("secret.txt")));
    QCOMPARE(repeated, detailedDir(m_wim, 3));
    // The same paths offered, exclusion decisions included.
    QStringList offered = repeat.paths(WIM_MSG_PROCESS);
    QStringList offeredInFull = full.paths(WIM_MSG_PROCESS);
    offered.removeDuplicates();
    offeredInFull.removeDuplicates();
    QCOMPARE(offered, offeredInFull);
    QCOMPARE(repeat.progress().last(), 100);

    const QString applied = m_dir.filePath(QStringLiteral("applied"));
    QDir(applied).removeRecursively();
    QVERIFY(QDir().mkpath(applied));
    const auto r =
        runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("apply"), m_wim, QStringLiteral("2"), applied});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    auto expected = treeOf(m_tree);
    expected.remove(QStringLiteral("secret.txt"));
    QCOMPARE(treeOf(applied), expected);
    QVERIFY(testarchives::wimVerify(m_wim));
}

void TestRepeatCapture::newestImageOfTheSameSourceIsTheReference()
{
    const QString file = QStringLiteral("/data/d2/f2.bin");
    const int size = int(fileBytes(m_tree + file).size());
    // Another folder with the same names and times, captured last.
    const QString other = m_dir.filePath(QStringLiteral("other"));
    const auto r = runTool(QStringLiteral("cp"), {QStringLiteral("-a"), m_tree, other});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY(rewriteKeepingTimes(other + file, noise(size, 3)));
    const QString link = m_dir.filePath(QStringLiteral("tree link"));
    QVERIFY(QFile::link(m_tree, link));

    WimHandle wim(m_lib, createWim(m_lib, m_wim));
    QVERIFY(wim);
    QVERIFY(WimHandle(m_lib, capture(wim.get(), m_tree, 0)));  // 1: contents 0
    QVERIFY(rewriteKeepingTimes(m_tree + file, noise(size, 1)));
    QVERIFY(WimHandle(m_lib, capture(wim.get(), m_tree + QLatin1Char('/'), WIM_FLAG_FULL_READ)));  // 2: contents 1
    QVERIFY(WimHandle(m_lib, capture(wim.get(), other, 0)));  // 3: the other folder
    QVERIFY(rewriteKeepingTimes(m_tree + file, noise(size, 2)));
    WimHandle fourth(m_lib, capture(wim.get(), link, 0));  // 4: spelled otherwise
    QVERIFY(fourth);

    QString xml;
    QVERIFY(m_lib.WIMGetImageInformation(fourth.get(), &xml, nullptr));
    QVERIFY2(xml.contains(
                 QStringLiteral("<PELLWICK><SOURCE>%1</SOURCE></PELLWICK>").arg(QFileInfo(m_tree).canonicalFilePath())),
             qPrintable(xml));
    fourth.close();
    QVERIFY(wim.close());
    // The documented exception: a file rewritten with its size and times given
    // back reads as unchanged. So image 4 holds the contents of its reference,
    // image 2, the newest of this folder's, not image 1's (an older one),
    // image 3's (another folder) or the disk's (what a full read, as image 2's, takes).
    const QString scratch = m_dir.filePath(QStringLiteral("scratch"));
    QCOMPARE(storedBytes(m_wim, 2, file, scratch), noise(size, 1));
    QCOMPARE(storedBytes(m_wim, 4, file, scratch), noise(size, 1));
    QCOMPARE(fileBytes(m_tree + file), noise(size, 2));
}

void TestRepeatCapture::unchangedTreeReadsNothing()
{
    WimHandle wim(m_lib, createWim(m_lib, m_wim));
    QVERIFY(wim);
    QVERIFY(WimHandle(m_lib, capture(wim.get(), m_tree, 0)));
    readAll(m_tree);
    TickingClock clock;
    MessageRecorder unchanged;
    QVERIFY(WimHandle(m_lib, capture(wim.get(), m_tree, 0, &unchanged)));
    // No byte was read: no percentage before the end, whatever was skipped.
    QCOMPARE(unchanged.progress(), QList<int>{100});
    // One file to read: its bytes make the way there.
    QVERIFY(put(m_tree + QStringLiteral("/a/b/c/deep.dat"), noise(400000, 5)));
    MessageRecorder changed;
    QVERIFY(WimHandle(m_lib, capture(wim.get(), m_tree, 0, &changed)));
    const QList<int> percentages = changed.progress();
    QVERIFY2(percentages.size() > 1 && percentages.first() < 100 && percentages.last() == 100,
             qPrintable(QString::number(percentages.size())));
    QVERIFY(wim.close());

    // Other tools keep the element: a rename by the peer, then our own text edit.
    const auto r = runTool(QStringLiteral("wimlib-imagex"),
                           {QStringLiteral("info"), m_wim, QStringLiteral("2"), QStringLiteral("renamed by the peer")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    WimHandle reopened(m_lib, openWim(m_lib, m_wim));
    WimHandle image(m_lib, m_lib.WIMLoadImage(reopened.get(), 2));
    QVERIFY(image);
    const QString element = QStringLiteral("<IMAGE><NAME>ours</NAME></IMAGE>");
    QVERIFY(m_lib.WIMSetImageInformation(image.get(), element, uint32_t(element.size() * 2)));
    const QString xmlFile = m_dir.filePath(QStringLiteral("document.xml"));
    const auto info = runTool(QStringLiteral("wimlib-imagex"),
                              {QStringLiteral("info"), m_wim, QStringLiteral("--extract-xml=") + xmlFile});
    QVERIFY2(info.exitCode == 0, qPrintable(info.output));
    const QByteArray utf16 = fileBytes(xmlFile);
    const QString document =
        QString::fromUtf16(reinterpret_cast<const char16_t *>(utf16.constData()), utf16.size() / 2);
    QVERIFY(document.contains(QLatin1String("<NAME>ours</NAME>")));
    QCOMPARE(document.count(QStringLiteral("<SOURCE>%1</SOURCE>").arg(QFileInfo(m_tree).canonicalFilePath())), 3);
}

void TestRepeatCapture::percentagesAreSharesOfTheExpectedTime_data()
{
    QTest::addColumn<qint64>("scanMs");
    QTest::addColumn<qint64>("writeMs");
    QTest::addColumn<quint64>("done");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<int>("percent");
    // Scanning took 9 s; a tenth of the bytes took 0.1 s: 10.1 s of 10 s + 1 s.
    QTest::newRow("most time scanning") << qint64(9000) << qint64(100) << quint64(10) << quint64(100) << 91;
    QTest::newRow("no scan: the bytes' share") << qint64(0) << qint64(0) << quint64(25) << quint64(100) << 25;
    QTest::newRow("no scan, time measured") << qint64(0) << qint64(500) << quint64(25) << quint64(100) << 25;
    QTest::newRow("rate not known yet") << qint64(400) << qint64(0) << quint64(25) << quint64(100) << -1;
    QTest::newRow("nothing read yet") << qint64(400) << qint64(50) << quint64(0) << quint64(100) << -1;
    QTest::newRow("nothing to read") << qint64(400) << qint64(50) << quint64(0) << quint64(0) << -1;
    QTest::newRow("all read") << qint64(400) << qint64(50) << quint64(100) << quint64(100) << 100;
    QTest::newRow("almost: never 100 early") << qint64(0) << qint64(1000) << quint64(999999) << quint64(1000000) << 99;
}

void TestRepeatCapture::percentagesAreSharesOfTheExpectedTime()
{
    QFETCH(qint64, scanMs);
    QFETCH(qint64, writeMs);
    QFETCH(quint64, done);
    QFETCH(quint64, total);
    QFETCH(int, percent);
    QCOMPARE(WimlibProgress::timeSharePercent(scanMs, writeMs, done, total), percent);
}

QTEST_GUILESS_MAIN(TestRepeatCapture)
#include "tst_repeat_capture.moc"
