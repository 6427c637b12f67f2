// pellwick-wim mount and unmount on archives made by wimlib-imagex, against
// the peer's own mount, mountrw and unmount.
#include "imaging/mount_records.h"
#include "imaging_test_support.h"
#include "test_archives.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testarchives::runTool;
using namespace imagingtest;

namespace {

const QString kTool = QStringLiteral(PELLWICK_WIM_TOOL);

QString wimlibImagex()
{
    return QStringLiteral("wimlib-imagex");
}

// `wimlib-imagex dir --detailed` without what two writers of the same change
// need not share: times, where the data lies, link group numbers.
QStringList detailed(const QString &wim)
{
    const auto r =
        runTool(wimlibImagex(), {QStringLiteral("dir"), wim, QStringLiteral("1"), QStringLiteral("--detailed")});
    static const QRegularExpression differs(
        QStringLiteral("Time|Offset in WIM|Compressed size|Link Group ID|Part Number"));
    QStringList lines;
    for (const QString &line : r.output.split(QLatin1Char('\n'))) {
        if (!line.contains(differs))
            lines << line;
    }
    return lines;
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

// The same change in a mounted image: a file added, one changed, one deleted.
void change(const QString &mount)
{
    testarchives::writeTree(mount, {{QStringLiteral("added/new.txt"), QByteArray("neu\n")}});
    QFile changed(mount + QStringLiteral("/changed.bin"));
    if (changed.open(QIODevice::WriteOnly | QIODevice::Truncate))
        changed.write(QByteArray(70000, 'z'));
    changed.close();
    QFile::remove(mount + QStringLiteral("/gone.txt"));
}

// The process that serves the mount at `dir` (pellwick-wim mount ... DIR); 0 when there is none.
qint64 servingProcess(const QString &dir)
{
    const QByteArray wanted = QFile::encodeName(dir);
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString proc = it.next();
        QFile cmdline(proc + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.size() > 4 && args[1] == "mount" && args[4] == wanted)
            return QFileInfo(proc).fileName().toLongLong();
    }
    return 0;
}

bool traced(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    static const QRegularExpression tracer(QStringLiteral("TracerPid:\\s*[1-9]"));
    return tracer.match(QString::fromLatin1(status.readAll())).hasMatch();
}

// strace attached to `pid` and its threads, `options` added; running once it has attached.
bool attachStrace(QProcess &strace, qint64 pid, const QStringList &options)
{
    strace.setProcessChannelMode(QProcess::MergedChannels);
    strace.start(QStringLiteral("strace"),
                 QStringList{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-p"), QString::number(pid)}
                     + options);
    return strace.waitForStarted(10000) && QTest::qWaitFor([pid] { return traced(pid); }, 10000);
}

}  // namespace

class TestMount : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readOnlyShowsWhatThePeerLists();
    void commitGivesWhatThePeersCommitGives();
    void discardLeavesTheArchiveByteForByte();
    void openFilesKeepItMountedUntilClosed();
    void commitKilledAtEveryWrite();
    void commitOnAFullDiskKeepsItMounted();
    void aKilledServerIsClearedWithItsStagingFiles();
    void refusedBeforeAnythingIsTouched_data();
    void refusedBeforeAnythingIsTouched();
    void aRecordWaitsForItsMount();

private:
    QString mountPoint(const QString &name);
    int pellwick(const QStringList &arguments, QString *output = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_wim;
    QStringList m_mounted;
};

void TestMount::init()
{
    if (::geteuid() != 0)
        QSKIP("mounting images needs root here (CI runs as root)");
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        QSKIP("/dev/fuse is missing or cannot be opened: no FUSE mounts on this machine");
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("PELLWICK_MOUNT_RECORDS", QFile::encodeName(m_dir->filePath(QStringLiteral("records"))));
    const QString source = m_dir->filePath(QStringLiteral("source"));
    QVERIFY(makeSampleTree(source));
    testarchives::writeTree(
        source, {{QStringLiteral("changed.bin"), noise(50000, 7)}, {QStringLiteral("gone.txt"), QByteArray("weg\n")}});
    m_wim = m_dir->filePath(QStringLiteral("a.wim"));
    const auto r = runTool(wimlibImagex(), {QStringLiteral("capture"), source, m_wim, QStringLiteral("映像")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
}

void TestMount::cleanup()
{
    for (const QString &dir : std::as_const(m_mounted))
        runTool(QStringLiteral("fusermount"), {QStringLiteral("-u"), QStringLiteral("-z"), dir}, 10000);
    m_mounted.clear();
    m_dir.reset();
    qunsetenv("PELLWICK_MOUNT_RECORDS");
}

QString TestMount::mountPoint(const QString &name)
{
    const QString dir = m_dir->filePath(name);
    QDir().mkpath(dir);
    m_mounted << dir;
    return dir;
}

int TestMount::pellwick(const QStringList &arguments, QString *output)
{
    const auto r = runTool(kTool, arguments, 120000);
    if (output)
        *output = r.output;
    return r.exitCode;
}

void TestMount::readOnlyShowsWhatThePeerLists()
{
    const QString mount = mountPoint(QStringLiteral("ro"));
    QString out;
    QCOMPARE(pellwick({QStringLiteral("mount"), m_wim, QStringLiteral("1"), mount}, &out), 0);
    QCOMPARE(mountRecords().size(), 1);
    QCOMPARE(mountRecords().first().readWrite, false);
    // Every path the peer lists, and every byte it extracts.
    QStringList listed{QStringLiteral("/")};
    for (const QString &path : testarchives::readTree(mount).keys())
        listed << QLatin1Char('/') + (path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path);
    listed.sort();
    QStringList peer = testarchives::wimDir(m_wim, 1);
    peer.sort();
    QCOMPARE(listed, peer);
    const QString extracted = m_dir->filePath(QStringLiteral("extracted"));
    QCOMPARE(runTool(wimlibImagex(), {QStringLiteral("apply"), m_wim, QStringLiteral("1"), extracted}).exitCode, 0);
    QCOMPARE(treeOf(mount), treeOf(extracted));
    QVERIFY(QFile(mount + QStringLiteral("/x")).open(QIODevice::WriteOnly) == false);

    QCOMPARE(pellwick({QStringLiteral("unmount"), mount}, &out), 0);
    QVERIFY(mountRecords().isEmpty());
    QVERIFY(QDir(mount).isEmpty());
}

void TestMount::commitGivesWhatThePeersCommitGives()
{
    const QString copy = m_dir->filePath(QStringLiteral("peer.wim"));
    QVERIFY(QFile::copy(m_wim, copy));
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const QString ours = mountPoint(QStringLiteral("ours"));
    const QString theirs = mountPoint(QStringLiteral("theirs"));
    QString out;
    QCOMPARE(pellwick({QStringLiteral("mount"), m_wim, QStringLiteral("1"), ours, QStringLiteral("--rw"),
                       QStringLiteral("--staging"), work},
                      &out),
             0);
    QCOMPARE(runTool(wimlibImagex(), {QStringLiteral("mountrw"), copy, QStringLiteral("1"), theirs}).exitCode, 0);
    change(ours);
    change(theirs);
    // The staging files are in the working directory while mounted.
    QCOMPARE(QDir(work).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    // No other change reaches the archive meanwhile.
    QCOMPARE(pellwick({QStringLiteral("setinfo"), m_wim, QStringLiteral("1"), QStringLiteral("别的")}, &out), 4);

    QVERIFY2(pellwick({QStringLiteral("unmount"), ours, QStringLiteral("--commit")}, &out) == 0, qPrintable(out));
    QCOMPARE(runTool(wimlibImagex(), {QStringLiteral("unmount"), theirs, QStringLiteral("--commit")}).exitCode, 0);
    QCOMPARE(detailed(m_wim), detailed(copy));
    QVERIFY(testarchives::wimVerify(m_wim));
    // The serving process removes its staging folder just after it answered the unmount.
    QTRY_VERIFY_WITH_TIMEOUT(QDir(work).isEmpty(), 10000);
    QVERIFY(mountRecords().isEmpty());
}

void TestMount::discardLeavesTheArchiveByteForByte()
{
    const QByteArray before = digest(m_wim);
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const QString mount = mountPoint(QStringLiteral("rw"));
    QCOMPARE(pellwick({QStringLiteral("mount"), m_wim, QStringLiteral("1"), mount, QStringLiteral("--rw"),
                       QStringLiteral("--staging"), work}),
             0);
    change(mount);
    QCOMPARE(pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--discard")}), 0);
    QCOMPARE(digest(m_wim), before);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(work).isEmpty(), 10000);
}

void TestMount::openFilesKeepItMountedUntilClosed()
{
    const QString mount = mountPoint(QStringLiteral("busy"));
    QCOMPARE(pellwick({QStringLiteral("mount"), m_wim, QStringLiteral("1"), mount, QStringLiteral("--rw")}), 0);
    change(mount);
    const int fd = ::open(QFile::encodeName(mount + QStringLiteral("/changed.bin")).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QString out;
    QCOMPARE(pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--commit")}, &out), 4);
    QVERIFY2(out.contains(QStringLiteral("still open")), qPrintable(out));
    QCOMPARE(mountState(mount), MountState::Served);
    ::close(fd);
    QCOMPARE(pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--commit")}, &out), 0);
    QCOMPARE(testarchives::wimDir(m_wim, 1).contains(QStringLiteral("/added/new.txt")), true);
}

// The commit runs in the serving process: strace, attached to it just before
// the unmount, kills it at each of the commit's writes in turn. The archive is
// the old image or the committed one and verifies, the folder is not left as a
// dead mount, and the archive takes the next change.
void TestMount::commitKilledAtEveryWrite()
{
    if (!testarchives::haveTool(QStringLiteral("strace")))
        QSKIP("strace is needed to kill the serving process at a chosen write (scripts/install.sh installs it)");
    const QString base = m_dir->filePath(QStringLiteral("base.wim"));
    QVERIFY(QFile::copy(m_wim, base));
    const QString mount = mountPoint(QStringLiteral("killed"));
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    // Mounts a fresh copy read-write, changes it and attaches strace to its serving process.
    const auto mountChanged = [&](QProcess &strace, const QStringList &options) {
        QFile::remove(m_wim);
        if (!QFile::copy(base, m_wim)
            || pellwick({QStringLiteral("mount"), m_wim, QStringLiteral("1"), mount, QStringLiteral("--rw"),
                         QStringLiteral("--staging"), work})
                   != 0)
            return false;
        change(mount);
        const qint64 pid = servingProcess(mount);
        return pid > 0 && attachStrace(strace, pid, options);
    };
    const QStringList old = detailed(base);
    const QString log = m_dir->filePath(QStringLiteral("writes.log"));
    QStringList changed;
    QMap<QString, int> count;
    {
        QProcess strace;
        QVERIFY(mountChanged(
            strace, {QStringLiteral("-o"), log, QStringLiteral("-e"), QStringLiteral("trace=write,pwrite64")}));
        QString out;
        QVERIFY2(pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--commit")}, &out) == 0, qPrintable(out));
        QVERIFY(strace.waitForFinished(30000));
        changed = detailed(m_wim);
        QVERIFY(changed != old);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        static const QRegularExpression call(QStringLiteral("^\\d+ +(write|pwrite64)\\("),
                                             QRegularExpression::MultilineOption);
        for (auto it = call.globalMatch(QString::fromUtf8(f.readAll())); it.hasNext();)
            ++count[it.next().captured(1)];
        QVERIFY2(count.value(QStringLiteral("pwrite64")) >= 1, qPrintable(QDebug::toString(count)));
    }
    int leftOld = 0;
    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        for (int n = 1; n <= it.value(); ++n) {
            const QString at = QStringLiteral("killed at %1 %2 of %3").arg(it.key()).arg(n).arg(it.value());
            QProcess strace;
            QVERIFY2(mountChanged(strace, {QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-e"),
                                           QStringLiteral("trace=") + it.key(), QStringLiteral("-e"),
                                           QStringLiteral("inject=%1:signal=SIGKILL:when=%2").arg(it.key()).arg(n)}),
                     qPrintable(at));
            QString out;
            const int code = pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--commit")}, &out);
            QVERIFY2(strace.waitForFinished(30000), qPrintable(at));
            QVERIFY2(mountState(mount) == MountState::Gone, qPrintable(at + QStringLiteral(": ") + out));
            QVERIFY2(QDir(work).isEmpty(), qPrintable(at + QStringLiteral(": staging files left")));
            // A kill before the last header leaves wimlib's "write in progress" flag, which only warns.
            QStringList now = detailed(m_wim);
            now.removeIf([](const QString &line) {
                return line.contains(QLatin1String("[WARNING]")) || line.startsWith(QLatin1String("          "));
            });
            QVERIFY2(now == old || now == changed, qPrintable(at));
            // Not reported as done when the commit did not end.
            if (now == old) {
                ++leftOld;
                QVERIFY2(code != 0 && out.contains(QStringLiteral("ended before the unmount was done")),
                         qPrintable(at + QStringLiteral(": ") + out));
            }
            QString verify;
            QVERIFY2(testarchives::wimVerify(m_wim, &verify), qPrintable(at + QStringLiteral(": ") + verify));
            QVERIFY2(pellwick({QStringLiteral("setinfo"), m_wim, QStringLiteral("1"), QStringLiteral("下一个")}, &out)
                         == 0,
                     qPrintable(at + QStringLiteral(": ") + out));
        }
    }
    QVERIFY(leftOld > 0);
    QVERIFY(mountRecords().isEmpty());
}

// A commit that does not fit: the archive as it was, the image still mounted
// with its changes staged for a retry; a discard then ends it.
void TestMount::commitOnAFullDiskKeepsItMounted()
{
    const auto disk = ScopedMount::tmpfs(m_dir->filePath(QStringLiteral("disk")), "size=256k");
    if (!disk.mounted())
        QSKIP("cannot mount a tmpfs here (no CAP_SYS_ADMIN in this container?)");
    const QString wim = m_dir->filePath(QStringLiteral("disk/a.wim"));
    QVERIFY(QFile::copy(m_wim, wim));
    const QByteArray before = digest(wim);
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const QString mount = mountPoint(QStringLiteral("full disk"));
    QCOMPARE(pellwick({QStringLiteral("mount"), wim, QStringLiteral("1"), mount, QStringLiteral("--rw"),
                       QStringLiteral("--staging"), work}),
             0);
    const QByteArray big = noise(int(disk.freeBytes()) + 200000, 3);
    testarchives::writeTree(mount, {{QStringLiteral("big.bin"), big}});
    QString out;
    QVERIFY2(pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--commit")}, &out) != 0, qPrintable(out));
    QVERIFY2(out.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(out));
    QCOMPARE(digest(wim), before);
    QVERIFY(testarchives::wimVerify(wim));
    QCOMPARE(mountState(mount), MountState::Served);
    QCOMPARE(QFileInfo(mount + QStringLiteral("/big.bin")).size(), big.size());
    QCOMPARE(QDir(work).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    QCOMPARE(pellwick({QStringLiteral("unmount"), mount, QStringLiteral("--discard")}, &out), 0);
    QCOMPARE(mountState(mount), MountState::Gone);
    QCOMPARE(digest(wim), before);
    QTRY_VERIFY_WITH_TIMEOUT(QDir(work).isEmpty(), 10000);
}

// The serving process killed while nobody unmounts: the folder is a dead
// mount until the next start clears it, which also removes the staged
// changes (nothing can commit them) and the record.
void TestMount::aKilledServerIsClearedWithItsStagingFiles()
{
    const QByteArray before = digest(m_wim);
    const QString work = m_dir->filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(work));
    const QString mount = mountPoint(QStringLiteral("dead"));
    QCOMPARE(pellwick({QStringLiteral("mount"), m_wim, QStringLiteral("1"), mount, QStringLiteral("--rw"),
                       QStringLiteral("--staging"), work}),
             0);
    change(mount);
    const qint64 pid = servingProcess(mount);
    QVERIFY(pid > 0);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(mountState(mount), MountState::Dead, 10000);
    QCOMPARE(mountRecords().size(), 1);
    QVERIFY(!QDir(work).isEmpty());
    QVERIFY(clearDeadMount(mount));
    QCOMPARE(mountState(mount), MountState::Gone);
    QVERIFY(QDir(work).isEmpty());
    QVERIFY(mountRecords().isEmpty());
    QCOMPARE(digest(m_wim), before);
}

void TestMount::refusedBeforeAnythingIsTouched_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("runner");  // what runs the tool, "" itself
    QTest::addColumn<QString>("said");
    QTest::newRow("not empty") << QStringLiteral("full") << QStringList() << QStringLiteral("is not empty");
    QTest::newRow("missing") << QStringLiteral("missing") << QStringList() << QStringLiteral("No such file");
    // A system without FUSE: an empty /dev in a mount namespace of its own.
    QTest::newRow("no /dev/fuse") << QStringLiteral("empty")
                                  << QStringList{QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("sh"),
                                                 QStringLiteral("-c"),
                                                 QStringLiteral("mount -t tmpfs none /dev && exec \"$0\" \"$@\"")}
                                  << QStringLiteral("/dev/fuse is missing");
    QTest::newRow("not root") << QStringLiteral("empty")
                              << QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                             QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")}
                              << QStringLiteral("no permission to use /dev/fuse");
}

void TestMount::refusedBeforeAnythingIsTouched()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, runner);
    QFETCH(QString, said);
    if (runner.value(0) == QLatin1String("setpriv")) {
        struct stat fuse;
        if (::stat("/dev/fuse", &fuse) != 0 || (fuse.st_mode & S_IWOTH))
            QSKIP("/dev/fuse is open to every user here: no user lacks the FUSE permission");
        // The other user reads the archive and the folder.
        for (const QString &path : {m_dir->path(), m_wim})
            QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther | QFileDevice::ExeOther);
    }
    if (!runner.isEmpty() && !testarchives::haveTool(runner.first()))
        QSKIP(qPrintable(runner.first() + QStringLiteral(" (util-linux) is needed for this row")));
    const QString dir = m_dir->filePath(folder);
    if (folder == QLatin1String("full"))
        testarchives::writeTree(dir, {{QStringLiteral("x"), QByteArray("x")}});
    else if (folder == QLatin1String("empty"))
        QVERIFY(QDir().mkpath(dir));
    const QByteArray before = digest(m_wim);
    QStringList arguments{QStringLiteral("mount"), m_wim, QStringLiteral("1"), dir};
    if (runner.value(0) != QLatin1String("setpriv"))
        arguments << QStringLiteral("--rw");  // the other user may not write the archive, and need not
    const auto r = runner.isEmpty() ? runTool(kTool, arguments)
                                    : runTool(runner.first(), runner.mid(1) + QStringList{kTool} + arguments);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.output.contains(said), qPrintable(r.output));
    QCOMPARE(digest(m_wim), before);
    QVERIFY(mountRecords().isEmpty());
    QCOMPARE(mountState(dir), MountState::Gone);
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("*.staging*")}, QDir::AllEntries), QStringList());
}

QTEST_GUILESS_MAIN(TestMount)
// A record is written before its mount is up; another Pellwick reading the
// records meanwhile must not take it for the record of a mount that is gone.
void TestMount::aRecordWaitsForItsMount()
{
    const QString dir = m_dir->filePath(QStringLiteral("on the way"));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(writeMountRecord({dir, m_wim, 1, true, QString()}));
    const QDir records(mountRecordFolder());
    QCOMPARE(records.entryList(QDir::Files).size(), 1);
    QVERIFY(mountRecords().isEmpty());  // not mounted yet: not offered
    QCOMPARE(records.entryList(QDir::Files).size(), 1);

    // Its writer gone (or its pid taken by another process), the mount never came.
    QFile file(records.filePath(records.entryList(QDir::Files).first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QVERIFY(json.value(QLatin1String("writerStart")).toInteger() > 0);
    json.insert(QStringLiteral("writerStart"), json.value(QLatin1String("writerStart")).toInteger() + 1);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(json).toJson());
    file.close();
    QVERIFY(mountRecords().isEmpty());
    QCOMPARE(records.entryList(QDir::Files), QStringList());
}

#include "tst_mount.moc"
