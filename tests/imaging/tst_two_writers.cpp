// Two processes on one archive: this test's own process through the boundary
// and pellwick-wim beside it, overlapping for certain. Either our change is
// held inside the library (its callback waits) while the other process tries
// its own, or our handle reads the archive, the other process changes it, and
// then ours tries. Afterwards both changes are there or the later one was
// refused with its cause; the archive verifies; nothing reported done is missing.
#include "imaging/wimlib_backend.h"
#include "imaging_test_support.h"
#include "test_archives.h"

#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace imagingtest;
using testarchives::runTool;
using Kind = ImagingError::Kind;

namespace {

const QString kTool = QStringLiteral(PELLWICK_WIM_TOOL);
constexpr int kRetryExit = 4;  // pellwick-wim: in use, or changed meanwhile

// Stops the library's thread in its first message until released.
struct Hold {
    QSemaphore held;
    QSemaphore go;
    std::atomic<bool> used{false};
    static uint32_t callback(uint32_t message, uintptr_t, intptr_t, void *self)
    {
        auto *hold = static_cast<Hold *>(self);
        if ((message == WIM_MSG_PROCESS || message == WIM_MSG_PROGRESS) && !hold->used.exchange(true)) {
            hold->held.release();
            hold->go.acquire();
        }
        return WIM_MSG_SUCCESS;
    }
};

// The names an archive holds after `op` by `who` ("ours" or "theirs").
QStringList after(const QString &op, QStringList names, const QString &who)
{
    if (op == QLatin1String("capture"))
        names << QStringLiteral("captured by ") + who;
    else if (op == QLatin1String("edit"))
        names[1] = QStringLiteral("edited by ") + who;
    else if (op == QLatin1String("delete"))
        names.removeFirst();
    else if (op == QLatin1String("export"))
        names << (names.contains(QStringLiteral("source")) ? QStringLiteral("source (2)") : QStringLiteral("source"));
    return names;
}

}  // namespace

class TestTwoWriters : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void overlapping_data();
    void overlapping();
    void writerIgnoringTheLockIsNeverCutOff();

private:
    QStringList theirCommand(const QString &op, const QString &wim) const;

    WimlibBackend m_lib;
    QTemporaryDir m_dir;
    QString m_tree;
    QString m_start;   // "One", "Two", "Three"
    QString m_source;  // one image, "source"
};

void TestTwoWriters::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to make and check archives");
    QVERIFY(m_dir.isValid());
    m_tree = m_dir.filePath(QStringLiteral("tree"));
    QVERIFY(makeDataTree(m_tree, 3, 300000));
    m_start = m_dir.filePath(QStringLiteral("start.wim"));
    m_source = m_dir.filePath(QStringLiteral("source.wim"));
    const QString sample = m_dir.filePath(QStringLiteral("sample"));
    QVERIFY(makeSampleTree(sample));
    const auto peer = [](const QStringList &args) {
        return runTool(QStringLiteral("wimlib-imagex"), args).exitCode == 0;
    };
    QVERIFY(peer({QStringLiteral("capture"), sample, m_source, QStringLiteral("source")}));
    QVERIFY(peer({QStringLiteral("capture"), sample, m_start, QStringLiteral("One")}));
    QVERIFY(peer({QStringLiteral("append"), sample, m_start, QStringLiteral("Two")}));
    QVERIFY(peer({QStringLiteral("append"), sample, m_start, QStringLiteral("Three")}));
}

QStringList TestTwoWriters::theirCommand(const QString &op, const QString &wim) const
{
    if (op == QLatin1String("capture"))
        return {QStringLiteral("capture"), m_tree, wim, QStringLiteral("captured by theirs")};
    if (op == QLatin1String("edit"))
        return {QStringLiteral("setinfo"), wim, QStringLiteral("2"), QStringLiteral("edited by theirs")};
    if (op == QLatin1String("delete"))
        return {QStringLiteral("delete"), wim, QStringLiteral("1")};
    if (op == QLatin1String("export"))
        return {QStringLiteral("export"), m_source, QStringLiteral("1"), wim};
    return {QStringLiteral("optimize"), wim};
}

void TestTwoWriters::overlapping_data()
{
    QTest::addColumn<QString>("ours");
    QTest::addColumn<QString>("theirs");
    QTest::addColumn<bool>("held");  // ours held inside the library, else ours from a view read before theirs
    const QStringList ops{QStringLiteral("capture"), QStringLiteral("edit"), QStringLiteral("delete"),
                          QStringLiteral("export"), QStringLiteral("optimize")};
    for (const QString &ours : ops) {
        // Edits and deletes send no message to be held in.
        const bool held = ours != QLatin1String("edit") && ours != QLatin1String("delete");
        for (const QString &theirs : ops)
            QTest::addRow("%s %s, %s", held ? "held" : "stale", qPrintable(ours), qPrintable(theirs))
                << ours << theirs << held;
    }
    // A change of an image's files: held in its scan, or from a stale view.
    for (const bool held : {true, false}) {
        for (const QString &theirs : ops)
            QTest::addRow("%s update, %s", held ? "held" : "stale", qPrintable(theirs))
                << QStringLiteral("update") << theirs << held;
    }
}

void TestTwoWriters::overlapping()
{
    QFETCH(QString, ours);
    QFETCH(QString, theirs);
    QFETCH(bool, held);
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    QVERIFY(QFile::copy(m_start, wim));
    QVERIFY(QFile::setPermissions(wim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QStringList start{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")};

    WimHandle archive(m_lib, openWim(m_lib, wim));
    QVERIFY(archive);
    WimHandle image(m_lib, m_lib.WIMLoadImage(archive.get(), 2));
    WimHandle source(m_lib, openWim(m_lib, m_source, WIM_GENERIC_READ));
    WimHandle sourceImage(m_lib, m_lib.WIMLoadImage(source.get(), 1));
    QVERIFY(image && sourceImage);

    Hold hold;
    hold.used = !held;
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, &Hold::callback, &hold) != INVALID_CALLBACK_VALUE);
    bool done = false;
    ImagingError why;
    const auto ourChange = [&] {
        WimHandle captured;
        const QString element = QStringLiteral("<IMAGE><NAME>captured by ours</NAME></IMAGE>");
        const QString edited = QStringLiteral("<IMAGE><NAME>edited by ours</NAME></IMAGE>");
        if (ours == QLatin1String("capture")) {
            captured.reset(m_lib, m_lib.WIMCaptureImageWithInformation(archive.get(), m_tree, 0, element,
                                                                       uint32_t(element.size() * 2)));
            done = bool(captured);
        } else if (ours == QLatin1String("edit")) {
            done = m_lib.WIMSetImageInformation(image.get(), edited, uint32_t(edited.size() * 2));
        } else if (ours == QLatin1String("delete")) {
            done = m_lib.WIMDeleteImage(archive.get(), 1);
        } else if (ours == QLatin1String("update")) {
            done =
                m_lib.WIMUpdateImage(image.get(), {{ImagingUpdate::Kind::Add, m_tree, QStringLiteral("/added"), {}}});
        } else if (ours == QLatin1String("export")) {
            done = m_lib.WIMExportImage(sourceImage.get(), archive.get(), WIM_EXPORT_ALLOW_DUPLICATES);
        } else {
            done = m_lib.WIMOptimizeFile(archive.get());
        }
        why = m_lib.LastError();
    };

    QStringList expected;
    testarchives::ToolResult other;
    if (held) {
        std::thread worker(ourChange);
        const bool wasHeld = hold.held.tryAcquire(1, 60000);
        if (wasHeld)
            other = runTool(kTool, theirCommand(theirs, wim));
        hold.go.release();
        worker.join();
        QVERIFY(wasHeld);
        QVERIFY2(done, qPrintable(why.text));
        // Refused at once, with the cause, and nothing of theirs written.
        QVERIFY2(other.exitCode == kRetryExit, qPrintable(other.output));
        QVERIFY2(other.output.contains(QLatin1String("in use by another program")), qPrintable(other.output));
        expected = after(ours, start, QStringLiteral("ours"));
        if (ours == QLatin1String("update"))
            QVERIFY(testarchives::wimDir(wim, 2).contains(QStringLiteral("/added")));
    } else {
        other = runTool(kTool, theirCommand(theirs, wim));
        QVERIFY2(other.exitCode == 0, qPrintable(other.output));
        ourChange();
        // Ours came from a view of the archive that is gone: refused, nothing written.
        QVERIFY(!done);
        QCOMPARE(int(why.kind), int(Kind::ChangedOnDisk));
        expected = after(theirs, start, QStringLiteral("theirs"));
        // The handle shows the archive as it is now.
        QCOMPARE(imageCount(m_lib, archive.get()), uint32_t(expected.size()));
    }
    m_lib.WIMUnregisterMessageCallback(nullptr, &Hold::callback);

    const auto info = testarchives::wimInfo(wim);
    QVERIFY2(info.ok, qPrintable(info.raw));
    QCOMPARE(info.names, expected);
    QString verify;
    QVERIFY2(testarchives::wimVerify(wim, &verify), qPrintable(verify));
}

// wimlib-imagex takes no lock of ours: it appends while our capture reads its
// folder. Our commit looks again and refuses rather than cut its image off.
void TestTwoWriters::writerIgnoringTheLockIsNeverCutOff()
{
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    QVERIFY(QFile::copy(m_start, wim));
    QVERIFY(QFile::setPermissions(wim, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    WimHandle archive(m_lib, openWim(m_lib, wim));
    Hold hold;
    QVERIFY(m_lib.WIMRegisterMessageCallback(nullptr, &Hold::callback, &hold) != INVALID_CALLBACK_VALUE);
    HWIM captured = nullptr;
    ImagingError why;
    std::thread worker([&] {
        captured = m_lib.WIMCaptureImage(archive.get(), m_tree, 0);
        why = m_lib.LastError();
    });
    const bool wasHeld = hold.held.tryAcquire(1, 60000);
    testarchives::ToolResult peer;
    if (wasHeld)
        peer =
            runTool(QStringLiteral("wimlib-imagex"), {QStringLiteral("append"), m_tree, wim, QStringLiteral("peer")});
    hold.go.release();
    worker.join();
    m_lib.WIMUnregisterMessageCallback(nullptr, &Hold::callback);
    QVERIFY(wasHeld);
    QVERIFY2(peer.exitCode == 0, qPrintable(peer.output));
    QVERIFY(!captured);
    QCOMPARE(int(why.kind), int(Kind::ChangedOnDisk));
    const auto info = testarchives::wimInfo(wim);
    QCOMPARE(info.names, (QStringList{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three"),
                                      QStringLiteral("peer")}));
    QVERIFY(testarchives::wimVerify(wim));
}

QTEST_GUILESS_MAIN(TestTwoWriters)
#include "tst_two_writers.moc"
