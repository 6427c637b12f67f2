// A drive taken from the user is given back however the program ends: the
// program killed while a drive is unmounted or read-only (on loop devices),
// and what the next start says about it.
#include "operations/drive_guardian.h"
#include "operations/ntfs_drive.h"
#include "ops_fixture.h"
#include "support/platform.h"
#include "test_archives.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <QTest>
#include <csignal>

using namespace opsfixture;
using namespace Qt::StringLiterals;

static const QString kChild = QStringLiteral(DRIVE_GUARD_CHILD);
static const QString kWindow = QStringLiteral(PELLWICK_EXECUTABLE);

class TestDriveGuardian : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void killedWhileTheDriveIsTaken_data();
    void killedWhileTheDriveIsTaken();
    void theWindowKilledWhileTheDriveIsTaken_data();
    void theWindowKilledWhileTheDriveIsTaken();
    void aRestoreThatFailsIsReportedWithItsCommand();
    void aNormalEndLeavesNothingToReport();
    void aVolumeLeftHalfWrittenIsRepairedAndMounted();

private:
    // Starts the child with `args`; true once it has taken the drive.
    bool startChild(QProcess &child, const QStringList &args);
    // The guardians' records and results, and what is mounted at `mp`: why a drive did not come back.
    QString recordsAndMount(const QString &mp) const;
    // Waits up to `ms` for `done`.
    template <typename Done>
    bool within(int ms, Done done);

    QTemporaryDir m_dir;
    QString m_records;
};

void TestDriveGuardian::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_records = m_dir.filePath(u"records"_s);
    qputenv("PELLWICK_DRIVE_RECORDS", QFile::encodeName(m_records));  // the children inherit it
}

void TestDriveGuardian::init()
{
    QDir(m_records).removeRecursively();
}

bool TestDriveGuardian::startChild(QProcess &child, const QStringList &args)
{
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(kChild, args);
    return child.waitForStarted(10000)
           && within(30000,
                     [&] {
                         child.waitForReadyRead(100);
                         return child.peek(4096).contains("released") || child.state() == QProcess::NotRunning;
                     })
           && child.state() == QProcess::Running;
}

QString TestDriveGuardian::recordsAndMount(const QString &mp) const
{
    QString text;
    for (const QString &name : QDir(m_records).entryList(QDir::Files)) {
        QFile f(QDir(m_records).filePath(name));
        text += u"\n"_s + name + u": "_s + (f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString());
    }
    const auto now = platform::mountAt(mp);
    return text + u"\nmounted: "_s
           + (now ? u"%1 %2 %3 %4"_s.arg(now->source, now->type, now->readOnly ? u"ro"_s : u"rw"_s,
                                         now->flags.join(u','))
                  : u"nothing"_s);
}

template <typename Done>
bool TestDriveGuardian::within(int ms, Done done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QTest::qWait(100);
    }
    return true;
}

void TestDriveGuardian::killedWhileTheDriveIsTaken_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("readOnly");  // how the drive is mounted before
    QTest::newRow("apply onto a drive") << u"apply"_s << false;
    QTest::newRow("apply onto a read-only drive") << u"apply"_s << true;
    QTest::newRow("capture of a drive") << u"capture"_s << false;
}

void TestDriveGuardian::killedWhileTheDriveIsTaken()
{
    QFETCH(QString, mode);
    QFETCH(bool, readOnly);
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    LoopDrive loop(m_dir.filePath(u"drive"_s), 16, u"ntfs"_s);
    QVERIFY2(loop.ok(), qPrintable(loop.error()));
    const QString mp = loop.mountPoint();
    // Flags of its own, which must come back with it.
    const QString options = readOnly ? u"remount,ro,nosuid,noexec"_s : u"remount,nosuid,noexec"_s;
    QCOMPARE(testarchives::runTool(u"mount"_s, {u"-o"_s, options, mp}).exitCode, 0);
    const auto before = platform::mountAt(mp);
    QVERIFY(before && before->readOnly == readOnly);
    QCOMPARE(before->flags, QStringList({u"nosuid"_s, u"noexec"_s}));

    QProcess child;
    QVERIFY2(startChild(child, {mode, mp}), child.readAll().constData());
    const auto taken = platform::mountAt(mp);
    QVERIFY(mode == u"apply"_s ? !taken : taken && taken->readOnly);
    child.kill();  // SIGKILL
    QVERIFY(child.waitForFinished(10000));

    QVERIFY2(within(10000,
                    [&] {
                        const auto now = platform::mountAt(mp);
                        return now && now->source == before->source && now->type == before->type
                               && now->readOnly == before->readOnly && now->flags == before->flags;
                    }),
             qPrintable(QDir(m_records).entryList().join(u' ')));
    if (!readOnly) {
        QFile probe(mp + u"/written after the kill"_s);
        QVERIFY(probe.open(QIODevice::WriteOnly));
    }
    // The guardian writes its result after the drive is back: the report waits for it.
    QString report;
    QVERIFY(within(10000, [&] { return !(report = DriveRestoreReport()).isEmpty(); }));
    QVERIFY2(report.contains(mode == u"apply"_s ? loop.device() : mp) && report.contains(u"已自动"_s),
             qPrintable(report));
    QCOMPARE(DriveRestoreReport(), QString());  // said once
    QCOMPARE(QDir(m_records).entryList(QDir::Files), QStringList());
}

void TestDriveGuardian::theWindowKilledWhileTheDriveIsTaken_data()
{
    QTest::addColumn<QString>("script");  // the test-only hook's variable
    QTest::newRow("an apply onto the drive root") << u"PELLWICK_TEST_APPLY_TO"_s;
    QTest::newRow("a capture of the drive root") << u"PELLWICK_TEST_CAPTURE_FROM"_s;
}

// The program itself, its window offscreen, applying onto a drive root or
// capturing one, is killed while the drive is unmounted or read-only.
void TestDriveGuardian::theWindowKilledWhileTheDriveIsTaken()
{
    QFETCH(QString, script);
    const bool apply = script == u"PELLWICK_TEST_APPLY_TO"_s;
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    if (!testarchives::haveTool(u"wimlib-imagex"_s))
        QSKIP("wimlib-imagex (package wimtools) is needed to make the archive");
    LoopDrive loop(m_dir.filePath(u"window-drive"_s), 32, u"ntfs"_s);
    QVERIFY2(loop.ok(), qPrintable(loop.error()));
    const QString mp = loop.mountPoint();
    const auto before = platform::mountAt(mp);
    QVERIFY(before && !before->readOnly);
    // Enough small files that the apply, or the capture of the drive, lasts a while.
    QMap<QString, QByteArray> files;
    for (int i = 0; i < 3000; ++i)
        files.insert(u"d%1/f%2.txt"_s.arg(i % 10).arg(i), QByteArray::number(i).repeated(500));
    const QString tree = apply ? m_dir.filePath(u"window tree"_s) : mp;
    testarchives::writeTree(tree, files);
    // A capture adds to an archive with one image already.
    const QString seed = m_dir.filePath(u"window seed"_s);
    testarchives::writeTree(seed, {{u"seed.txt"_s, "seed"}});
    const QString wim = m_dir.filePath(u"window.wim"_s);
    QFile::remove(wim);
    const auto made =
        testarchives::runTool(u"wimlib-imagex"_s, {u"capture"_s, apply ? tree : seed, wim, u"--compress=none"_s});
    QCOMPARE(made.exitCode, 0);
    const auto taken = [&] {
        const auto now = platform::mountAt(mp);
        return apply ? !now : now && now->readOnly;
    };

    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, m_dir.filePath(u"config"_s));
    env.insert(script, mp);
    window.setProcessEnvironment(env);
    window.setProcessChannelMode(QProcess::MergedChannels);
    window.start(kWindow, {wim});
    QVERIFY(window.waitForStarted(10000));
    QElapsedTimer timer;
    timer.start();
    while (!taken() && window.state() == QProcess::Running && timer.elapsed() < 30000)
        QThread::msleep(2);
    // Into the library's work (the drive is taken for about 150 ms), stopped
    // there to see that it still is, then killed.
    QThread::msleep(40);
    ::kill(pid_t(window.processId()), SIGSTOP);
    const bool stillTaken = taken();
    window.kill();  // SIGKILL
    QVERIFY(window.waitForFinished(10000));
    QVERIFY2(stillTaken, window.readAll().constData());

    QVERIFY2(within(10000,
                    [&] {
                        const auto now = platform::mountAt(mp);
                        return now && now->source == before->source && now->type == before->type
                               && now->readOnly == before->readOnly && now->flags == before->flags;
                    }),
             qPrintable(QString::fromUtf8(window.readAll()) + recordsAndMount(mp)));
    QFile probe(mp + u"/written after the kill"_s);
    QVERIFY(probe.open(QIODevice::WriteOnly) && probe.write("x") == 1);
    // The next start says so, once the guardian has written down what it did.
    QVERIFY(within(5000, [&] { return !QDir(m_records).entryList({u"*.result"_s}, QDir::Files).isEmpty(); }));
    QProcess next;
    env.insert(script, m_dir.filePath(u"nowhere"_s));
    next.setProcessEnvironment(env);
    next.setProcessChannelMode(QProcess::MergedChannels);
    next.start(kWindow, {});
    QVERIFY(next.waitForStarted(10000));
    QString said;
    QVERIFY(within(10000, [&] {
        next.waitForReadyRead(100);
        said = QString::fromUtf8(next.peek(1 << 16));
        return said.contains(u"prompt: 温馨提示: "_s) || next.state() == QProcess::NotRunning;
    }));
    next.kill();
    QVERIFY(next.waitForFinished(10000));
    QVERIFY2(said.contains(apply ? loop.device() : mp) && said.contains(u"已自动"_s), qPrintable(said));
    QCOMPARE(DriveRestoreReport(), QString());  // said once
}

void TestDriveGuardian::aRestoreThatFailsIsReportedWithItsCommand()
{
    // A folder nothing is mounted on, and a command that cannot mount it.
    const QString mp = m_dir.filePath(u"nowhere"_s);
    QVERIFY(QDir().mkpath(mp));
    const QString command = u"echo 'no such device' >&2; false"_s;
    QProcess child;
    QVERIFY2(startChild(child, {u"guard"_s, mp, command}), child.readAll().constData());
    QCOMPARE(DriveRestoreReport(), QString());  // its guardian is at work
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    QVERIFY(within(15000, [&] { return !QDir(m_records).entryList({u"*.result"_s}, QDir::Files).isEmpty(); }));
    const QString report = DriveRestoreReport();
    QVERIFY2(report.contains(u"未能自动重新挂载到 "_s + mp) && report.contains(u"no such device"_s)
                 && report.contains(command),
             qPrintable(report));
    QCOMPARE(QDir(m_records).entryList(QDir::Files), QStringList());
}

void TestDriveGuardian::aNormalEndLeavesNothingToReport()
{
    const QString mp = m_dir.filePath(u"nowhere"_s);
    QVERIFY(QDir().mkpath(mp));
    const QString marker = m_dir.filePath(u"ran"_s);
    // The program waits for its guardian to end: had it run the command, the marker would be there now.
    QCOMPARE(testarchives::runTool(kChild, {u"done"_s, mp, u"touch "_s + marker}).exitCode, 0);
    QVERIFY(!QFileInfo::exists(marker));
    QCOMPARE(QDir(m_records).entryList(QDir::Files), QStringList());
    QCOMPARE(DriveRestoreReport(), QString());
}

// A kill between an apply's writes of $MFT and of its mirror leaves a volume
// ntfs-3g refuses; the command the guardian runs after an apply repairs it.
void TestDriveGuardian::aVolumeLeftHalfWrittenIsRepairedAndMounted()
{
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    LoopDrive loop(m_dir.filePath(u"half-written"_s), 32, u"ntfs"_s);
    QVERIFY2(loop.ok(), qPrintable(loop.error()));
    const QString mp = loop.mountPoint();
    const auto before = platform::mountAt(mp);
    QVERIFY(before);
    const NtfsDrive drive{before->point, before->source, before->type, before->readOnly, before->flags};
    QCOMPARE(testarchives::runTool(u"umount"_s, {mp}).exitCode, 0);
    {
        QFile device(loop.device());
        QVERIFY(device.open(QIODevice::ReadWrite));
        const QByteArray boot = device.read(512);
        const auto bytesPerSector = quint16(uchar(boot[0x0B]) | uchar(boot[0x0C]) << 8);
        const auto sectorsPerCluster = quint8(boot[0x0D]);
        qint64 mirror = 0;
        for (int i = 7; i >= 0; --i)
            mirror = (mirror << 8) | uchar(boot[0x38 + i]);
        // The mirror of $MFT's own record as it was before a write: a valid
        // record with another sequence number.
        const qint64 at = mirror * bytesPerSector * sectorsPerCluster;
        QVERIFY(device.seek(at));
        QCOMPARE(device.read(4), QByteArray("FILE"));
        QVERIFY(device.seek(at + 0x10));
        QCOMPARE(device.write("\x07\x00", 2), 2);
    }
    QVERIFY(testarchives::runTool(u"mount"_s, {u"-t"_s, u"ntfs-3g"_s, loop.device(), mp}).exitCode != 0);
    const auto restored = testarchives::runTool(u"sh"_s, {u"-c"_s, NtfsMountBackAfterWriteCommand(drive)});
    QVERIFY2(restored.exitCode == 0, qPrintable(restored.output));
    const auto now = platform::mountAt(mp);
    QVERIFY(now && now->source == before->source && !now->readOnly);
}

QTEST_GUILESS_MAIN(TestDriveGuardian)
#include "tst_drive_guardian.moc"
