// Commits that no kill and no full disk can destroy: pellwick-wim killed at
// every write in turn (strace's fault injection), and run on a small tmpfs
// filled to many levels around the commit's size. Splits and extractions
// killed at their writes and renames leave what the next one clears away.
#include "imaging/locked_temporary_file.h"
#include "imaging/staged_extraction.h"
#include "imaging_test_support.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace imagingtest;
using testarchives::runTool;

namespace {

const QString kTool = QStringLiteral(PELLWICK_WIM_TOOL);

// What an archive holds, as one comparable text: "name|name@boot", "-" when
// there is no file; "+PATH" after it when image 1 holds PATH, the `probe`
// that tells a changed image from the old one.
QString stateOf(const QString &wim, const QString &probe = {})
{
    if (!QFileInfo::exists(wim))
        return QStringLiteral("-");
    const auto info = testarchives::wimInfo(wim);
    if (!info.ok)
        return QStringLiteral("unreadable: ") + info.raw;
    const QString state = info.names.join(QLatin1Char('|')) + QLatin1Char('@') + QString::number(info.bootIndex);
    if (probe.isEmpty() || !testarchives::wimDir(wim, 1).contains(probe))
        return state;
    return state + QLatin1Char('+') + probe;
}

// The probe of a row's states: what follows "+" in the new state.
QString probeOf(const QStringList &states)
{
    return states.last().section(QLatin1Char('+'), 1);
}

// Which of `count` calls to kill at: every one, or for many (an add of many
// files, a split's writes) the first and last few and an even sample
// between, which keeps it to seconds.
QList<int> killPoints(int count, bool sample, int edge = 12)
{
    QList<int> points;
    const int step = sample && count > 4 * edge ? std::max(1, (count - 2 * edge) / (2 * edge)) : 1;
    for (int n = 1; n <= count; ++n) {
        if (n <= edge || n > count - edge || (n - edge) % step == 0)
            points << n;
    }
    return points;
}

// Runs wimlib-imagex, which makes the starting archives; true when it succeeded.
bool peer(const QStringList &args)
{
    return runTool(QStringLiteral("wimlib-imagex"), args).exitCode == 0;
}

// Our temporary files left in a folder.
QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.pellwick-*")}, QDir::Files | QDir::Hidden);
}

struct Run {
    bool killed = false;
    int exitCode = -1;
    QString output;
};

// stdinFile: what the program reads on its standard input, when not empty.
Run run(const QString &program, const QStringList &args, const QString &stdinFile = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!stdinFile.isEmpty())
        p.setStandardInputFile(stdinFile);
    if (program == QLatin1String("strace")) {
        // LeakSanitizer cannot run under ptrace (a sanitizer build).
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) + QStringLiteral("detect_leaks=0"));
        p.setProcessEnvironment(environment);
    }
    p.start(program, args);
    Run r;
    if (!p.waitForStarted(30000) || !p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.output = QString::fromUtf8(p.readAll());
    // strace ends itself with the signal that ended its tracee.
    r.killed = p.exitStatus() == QProcess::CrashExit || p.exitCode() == 128 + SIGKILL;
    r.exitCode = r.killed ? -1 : p.exitCode();
    return r;
}

// How often a clean run of `command` makes each of the system calls `calls`
// ("write,rename"), counted with strace into `log`.
QMap<QString, int> countCalls(const QStringList &command, const QString &calls, const QString &log, Run *clean,
                              const QString &input = {})
{
    *clean = run(QStringLiteral("strace"),
                 QStringList{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"), log,
                             QStringLiteral("-e"), QStringLiteral("trace=") + calls}
                     + command,
                 input);
    QMap<QString, int> count;
    QFile logFile(log);
    if (!logFile.open(QIODevice::ReadOnly))
        return count;
    const QString text = QString::fromUtf8(logFile.readAll());
    const QRegularExpression call(
        QStringLiteral("^(?:\\d+ +)?(%1)\\(").arg(QString(calls).replace(QLatin1Char(','), QLatin1Char('|'))),
        QRegularExpression::MultilineOption);
    for (auto it = call.globalMatch(text); it.hasNext();)
        ++count[it.next().captured(1)];
    return count;
}

// `command` killed at its n-th system call `call`.
Run killedAt(const QStringList &command, const QString &call, int n, const QString &input = {})
{
    return run(QStringLiteral("strace"),
               QStringList{QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"),
                           QStringLiteral("/dev/null"), QStringLiteral("-e"), QStringLiteral("trace=") + call,
                           QStringLiteral("-e"), QStringLiteral("inject=%1:signal=SIGKILL:when=%2").arg(call).arg(n)}
                   + command,
               input);
}

// What the split set whose first part is `first` holds, through our own
// reading of a set (every part checked): its image names, "-" when there is
// no first part.
QString setStateOf(const QString &first)
{
    if (!QFileInfo::exists(first))
        return QStringLiteral("-");
    const auto r = testarchives::runTool(kTool, {QStringLiteral("info"), first});
    if (r.exitCode != 0)
        return QStringLiteral("unreadable: ") + r.output;
    QStringList names;
    for (const QString &line : r.output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("image ")))
            names << line.section(QLatin1Char(' '), 2);
    }
    return names.join(QLatin1Char('|'));
}

// Every hidden file in a folder: a split leaves none.
QStringList hidden(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden);
}

// Our extraction folders left in a folder.
QStringList extractionLeftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".pellwick-extract-*")}, QDir::Dirs | QDir::Hidden);
}

}  // namespace

class TestCommitSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedAtEveryWrite_data();
    void killedAtEveryWrite();
    void fullDiskAtManyLevels_data();
    void fullDiskAtManyLevels();
    void temporaryNames_data();
    void temporaryNames();
    void onlyAbandonedTemporaryFilesAreRemoved();
    void splitKilled_data();
    void splitKilled();
    void extractKilled_data();
    void extractKilled();
    void onlyAbandonedExtractionFoldersAreRemoved();

private:
    void commands();
    // Puts the row's starting archive at `wim` ("none", "one" or "two" images).
    bool setUp(const QString &start, const QString &wim);
    // The row's arguments for `wim`; commands for standard input ("<...")
    // go into *stdinFile, beside the archive.
    QStringList argumentsFor(QStringList args, const QString &wim, QString *stdinFile) const;
    // Makes m_big and m_bigger the first time (only the split sweeps use them).
    bool makeBigArchives();

    QTemporaryDir m_dir;
    QString m_tree;    // what the captures take
    QString m_source;  // what the exports take: one image, "source"
    QString m_one;     // one image, "first"
    QString m_two;     // "first" and "second"
    QString m_big;     // "big": noise in several files, for splits into several parts
    QString m_bigger;  // "bigger": more of it, split into more parts
};

void TestCommitSafety::initTestCase()
{
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to make and check archives");
    QVERIFY(m_dir.isValid());
    m_tree = m_dir.filePath(QStringLiteral("tree"));
    // Data of its own, so that a capture adds several pages to an archive of
    // the other tree.
    QVERIFY(makeDataTree(m_tree, 3, 24000));
    const QString other = m_dir.filePath(QStringLiteral("other"));
    QVERIFY(makeSampleTree(other));
    m_source = m_dir.filePath(QStringLiteral("source.wim"));
    m_one = m_dir.filePath(QStringLiteral("one.wim"));
    m_two = m_dir.filePath(QStringLiteral("two.wim"));
    QVERIFY(peer({QStringLiteral("capture"), other, m_source, QStringLiteral("source")}));
    QVERIFY(peer({QStringLiteral("capture"), other + QStringLiteral("/a"), m_one, QStringLiteral("first")}));
    QVERIFY(QFile::copy(m_one, m_two));
    QVERIFY(peer({QStringLiteral("append"), other + QStringLiteral("/a/b"), m_two, QStringLiteral("second")}));
}

bool TestCommitSafety::makeBigArchives()
{
    if (!m_big.isEmpty())
        return true;
    const QString big = m_dir.filePath(QStringLiteral("big"));
    const QString bigger = m_dir.filePath(QStringLiteral("bigger"));
    const QString bigWim = m_dir.filePath(QStringLiteral("big.wim"));
    const QString biggerWim = m_dir.filePath(QStringLiteral("bigger.wim"));
    if (!makeDataTree(big, 4, 600 * 1024) || !makeDataTree(bigger, 6, 900 * 1024)
        || !peer({QStringLiteral("capture"), big, bigWim, QStringLiteral("big")})
        || !peer({QStringLiteral("capture"), bigger, biggerWim, QStringLiteral("bigger")}))
        return false;
    m_big = bigWim;
    m_bigger = biggerWim;
    return true;
}

void TestCommitSafety::commands()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QStringList>("args");    // WIM, TREE and SOURCE stand for their paths
    QTest::addColumn<QStringList>("states");  // every state the archive may be left in, the last one the new

    // The image and its name are one commit: never an image without its name.
    QTest::newRow("named capture") << QStringLiteral("one")
                                   << QStringList{QStringLiteral("capture"), QStringLiteral("TREE"),
                                                  QStringLiteral("WIM"), QStringLiteral("new")}
                                   << QStringList{QStringLiteral("first@0"), QStringLiteral("first|new@0")};
    QTest::newRow("capture into a new archive")
        << QStringLiteral("none")
        << QStringList{QStringLiteral("capture"), QStringLiteral("TREE"), QStringLiteral("WIM"), QStringLiteral("new")}
        << QStringList{QStringLiteral("-"), QStringLiteral("new@0")};
    // A description longer than a page: written in place, the XML would need
    // a block the full disk does not have.
    QTest::newRow("edit") << QStringLiteral("two")
                          << QStringList{QStringLiteral("setinfo"), QStringLiteral("WIM"), QStringLiteral("2"),
                                         QStringLiteral("renamed"), QString(3000, QLatin1Char('d'))}
                          << QStringList{QStringLiteral("first|second@0"), QStringLiteral("first|renamed@0")};
    QTest::newRow("delete") << QStringLiteral("two")
                            << QStringList{QStringLiteral("delete"), QStringLiteral("WIM"), QStringLiteral("1")}
                            << QStringList{QStringLiteral("first|second@0"), QStringLiteral("second@0")};
    QTest::newRow("boot image") << QStringLiteral("two")
                                << QStringList{QStringLiteral("setboot"), QStringLiteral("WIM"), QStringLiteral("2")}
                                << QStringList{QStringLiteral("first|second@0"), QStringLiteral("first|second@2")};
    QTest::newRow("export into an archive")
        << QStringLiteral("one")
        << QStringList{QStringLiteral("export"), QStringLiteral("SOURCE"), QStringLiteral("1"), QStringLiteral("WIM")}
        << QStringList{QStringLiteral("first@0"), QStringLiteral("first|source@0")};
    // Commands on standard input ("<..."); a kill leaves the old image or the new one.
    QTest::newRow("update") << QStringLiteral("one")
                            << QStringList{QStringLiteral("update"), QStringLiteral("WIM"), QStringLiteral("1"),
                                           QStringLiteral("<add TREE /added\ndelete /b\n")}
                            << QStringList{QStringLiteral("first@0"), QStringLiteral("first@0+/added")};
    QTest::newRow("export into a new archive")
        << QStringLiteral("none")
        << QStringList{QStringLiteral("export"), QStringLiteral("SOURCE"), QStringLiteral("1"), QStringLiteral("WIM")}
        << QStringList{QStringLiteral("-"), QStringLiteral("source@0")};
}

bool TestCommitSafety::setUp(const QString &start, const QString &wim)
{
    QFile::remove(wim);
    if (start == QLatin1String("none"))
        return true;
    return QFile::copy(start == QLatin1String("one") ? m_one : m_two, wim)
           && QFile::setPermissions(wim, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QStringList TestCommitSafety::argumentsFor(QStringList args, const QString &wim, QString *stdinFile) const
{
    stdinFile->clear();
    if (!args.isEmpty() && args.last().startsWith(QLatin1Char('<'))) {
        *stdinFile = wim + QStringLiteral(".commands");
        QFile f(*stdinFile);
        if (f.open(QIODevice::WriteOnly))
            f.write(args.takeLast().mid(1).replace(QLatin1String("TREE"), m_tree).toUtf8());
    }
    for (QString &arg : args) {
        if (arg == QLatin1String("WIM"))
            arg = wim;
        else if (arg == QLatin1String("TREE"))
            arg = m_tree;
        else if (arg == QLatin1String("SOURCE"))
            arg = m_source;
    }
    return args;
}

void TestCommitSafety::killedAtEveryWrite_data()
{
    commands();
}

void TestCommitSafety::killedAtEveryWrite()
{
    QFETCH(QString, start);
    QFETCH(QStringList, args);
    QFETCH(QStringList, states);
    if (!testarchives::haveTool(QStringLiteral("strace")))
        QSKIP("strace is needed to kill the driver at a chosen write (scripts/install.sh installs it)");
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    const QString probe = probeOf(states);
    QString input;
    const QStringList command = QStringList{kTool} + argumentsFor(args, wim, &input);

    // A clean run under strace counts the writes of each kind.
    QVERIFY(setUp(start, wim));
    Run clean;
    const QMap<QString, int> count = countCalls(command, QStringLiteral("write,pwrite64"),
                                                dir.filePath(QStringLiteral("writes.log")), &clean, input);
    QVERIFY2(clean.exitCode == 0, qPrintable(clean.output));
    QCOMPARE(stateOf(wim, probe), states.last());
    QVERIFY(count.value(QStringLiteral("pwrite64")) >= 1);

    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        for (const int n : killPoints(it.value(), !input.isEmpty())) {
            const QString at = QStringLiteral("%1 %2 of %3").arg(it.key()).arg(n).arg(it.value());
            QVERIFY(setUp(start, wim));
            const Run killed = killedAt(command, it.key(), n, input);
            QVERIFY2(killed.killed || killed.exitCode == 0, qPrintable(at + QLatin1Char(' ') + killed.output));
            const QString state = stateOf(wim, probe);
            QVERIFY2(states.contains(state), qPrintable(QStringLiteral("killed at %1: %2").arg(at, state)));
            QString verify;
            QVERIFY2(state == QLatin1String("-") || testarchives::wimVerify(wim, &verify),
                     qPrintable(QStringLiteral("killed at %1: %2").arg(at, verify)));

            // The archive takes the next change (so the killed one left no
            // lock behind), which also clears away what it left (unless the
            // kill came after the last commit).
            if (state != states.last()) {
                const Run again = run(command.first(), command.mid(1), input);
                QVERIFY2(again.exitCode == 0,
                         qPrintable(QStringLiteral("after a kill at %1: %2").arg(at, again.output)));
                QVERIFY2(testarchives::wimVerify(wim, &verify), qPrintable(verify));
            }
            QCOMPARE(leftovers(dir.path()), QStringList());
        }
    }
}

void TestCommitSafety::fullDiskAtManyLevels_data()
{
    commands();
}

void TestCommitSafety::fullDiskAtManyLevels()
{
    QFETCH(QString, start);
    QFETCH(QStringList, args);
    QFETCH(QStringList, states);
    if (::geteuid() != 0)
        QSKIP("needs root, to mount a small tmpfs to fill");
    QTemporaryDir dir;
    const auto disk = ScopedMount::tmpfs(dir.filePath(QStringLiteral("disk")), "size=512k");
    if (!disk.mounted())
        QSKIP("cannot mount a tmpfs here (no CAP_SYS_ADMIN in this container?)");
    const QString folder = dir.filePath(QStringLiteral("disk"));
    const QString wim = folder + QStringLiteral("/a.wim");
    const QString filler = folder + QStringLiteral("/filler");
    const QString probe = probeOf(states);
    QString input;
    const QStringList command = argumentsFor(args, wim, &input);

    // The bytes the command adds, from a run with room to spare.
    QVERIFY(setUp(start, wim));
    const qint64 before = QFileInfo(wim).size();
    const Run roomy = run(kTool, command, input);
    QVERIFY2(roomy.exitCode == 0, qPrintable(roomy.output));
    const qint64 added = QFileInfo(wim).size() - before;
    QVERIFY(added > 0);

    // Free space from none to a little more than the commit needs, a block
    // at a time: levels within one block leave the same room.
    const qint64 top = added + 8192;
    const qint64 step = disk.blockBytes();
    QVERIFY(step > 0);
    int failures = 0;
    for (qint64 level = 0; level <= top; level += step) {
        const QString at = QStringLiteral("with %1 bytes free (the command adds %2)").arg(level).arg(added);
        QFile::remove(filler);
        QVERIFY(setUp(start, wim));
        const qint64 fill = disk.freeBytes() - level;
        if (fill > 0) {
            QFile f(filler);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(int(fill), 'x'));
            f.close();
        }
        const Run r = run(kTool, command, input);
        const QString state = stateOf(wim, probe);
        QVERIFY2(states.contains(state), qPrintable(QStringLiteral("%1: %2; %3").arg(at, state, r.output)));
        if (r.exitCode != 0) {
            ++failures;
            QVERIFY2(r.output.contains(QStringLiteral("no space left")) && r.output.contains(wim),
                     qPrintable(at + QStringLiteral(": ") + r.output));
        } else {
            QCOMPARE(state, states.last());
        }
        QString verify;
        QVERIFY2(state == QLatin1String("-") || testarchives::wimVerify(wim, &verify),
                 qPrintable(QStringLiteral("%1: %2").arg(at, verify)));
        QCOMPARE(leftovers(folder), QStringList());
    }
    QVERIFY2(failures > 0, "no level was too small for the command");
}

void TestCommitSafety::temporaryNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ours");
    QTest::newRow("ours") << QStringLiteral(".a.wim.pellwick-0123456789xyz") << true;
    QTest::newRow("a target named like one of ours") << QStringLiteral(".a.pellwick-1.pellwick-0000000000abc") << true;
    QTest::newRow("not hidden") << QStringLiteral("a.wim.pellwick-0123456789xyz") << false;
    QTest::newRow("no target name") << QStringLiteral(".pellwick-0123456789xyz") << false;
    QTest::newRow("too short") << QStringLiteral(".a.wim.pellwick-0123") << false;
    QTest::newRow("capital letters") << QStringLiteral(".a.wim.pellwick-0123456789XYZ") << false;
    QTest::newRow("something after it") << QStringLiteral(".a.wim.pellwick-0123456789xyz.bak") << false;
}

void TestCommitSafety::temporaryNames()
{
    QFETCH(QString, name);
    QFETCH(bool, ours);
    QCOMPARE(LockedTemporaryFile::isOurs(QFile::encodeName(name).constData()), ours);
}

void TestCommitSafety::onlyAbandonedTemporaryFilesAreRemoved()
{
    QTemporaryDir dir;
    const QString wim = dir.filePath(QStringLiteral("a.wim"));
    // A live writer's file (this process holds its lock), one whose writer is
    // gone, and a file of the user's that only looks alike.
    LockedTemporaryFile live;
    QVERIFY(live.create(QFile::encodeName(wim)));
    const QString abandoned = dir.filePath(QStringLiteral(".a.wim.pellwick-000000000dead"));
    const QString users = dir.filePath(QStringLiteral(".a.wim.pellwick-notes"));
    for (const QString &path : {abandoned, users}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // Another process's write into the folder.
    const Run r = run(kTool, {QStringLiteral("capture"), m_tree, wim});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY(QFile::exists(QFile::decodeName(live.path())));
    QVERIFY(!QFile::exists(abandoned));
    QVERIFY(QFile::exists(users));
    QVERIFY(testarchives::wimVerify(wim));
}

void TestCommitSafety::splitKilled_data()
{
    QTest::addColumn<bool>("olderSet");  // an older set of that name is there, from another archive
    QTest::newRow("a new set") << false;
    QTest::newRow("over an older set with more parts") << true;
}

// Killed at each of its writes, renames, removals and syncs (a sample of the
// writes when there are many): the first part's name leads to the older set,
// to the new one or to nothing, never to a mixed set, and the next split leaves the new
// set and nothing of ours.
void TestCommitSafety::splitKilled()
{
    QFETCH(bool, olderSet);
    if (!testarchives::haveTool(QStringLiteral("strace")))
        QSKIP("strace is needed to kill the driver at a chosen write (scripts/install.sh installs it)");
    QVERIFY(makeBigArchives());
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("set.swm"));
    const QStringList command{kTool, QStringLiteral("split"), m_big, first, QStringLiteral("0.25")};
    // The older set is split once, beside the folder, and copied in before each run.
    const QString olderFolder = dir.filePath(QStringLiteral("older"));
    if (olderSet) {
        QVERIFY(QDir().mkdir(olderFolder));
        QVERIFY(run(kTool, {QStringLiteral("split"), m_bigger, olderFolder + QStringLiteral("/set.swm"),
                            QStringLiteral("0.25")})
                    .exitCode
                == 0);
    }
    const QStringList olderParts = QDir(olderFolder).entryList({QStringLiteral("*.swm")}, QDir::Files);
    const auto setUpFolder = [&] {
        bool ok = true;
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            ok &= QFile::remove(dir.filePath(name));
        for (const QString &name : olderParts)
            ok &= QFile::copy(olderFolder + QLatin1Char('/') + name, dir.filePath(name));
        return ok;
    };
    QVERIFY(setUpFolder());
    QCOMPARE(setStateOf(first), olderSet ? QStringLiteral("bigger") : QStringLiteral("-"));
    Run clean;
    const QMap<QString, int> count = countCalls(command, QStringLiteral("write,pwrite64,rename,unlink,fsync"),
                                                dir.filePath(QStringLiteral("calls.log")), &clean);
    QVERIFY2(clean.exitCode == 0, qPrintable(clean.output));
    QCOMPARE(setStateOf(first), QStringLiteral("big"));
    const QStringList newParts = QDir(dir.path()).entryList({QStringLiteral("*.swm")}, QDir::Files);
    QVERIFY2(newParts.size() >= 3, qPrintable(newParts.join(QLatin1Char(' '))));
    if (olderSet)
        QVERIFY(olderParts.size() > newParts.size());  // the older set's extra parts went too
    QCOMPARE(hidden(dir.path()), QStringList());
    QVERIFY(count.value(QStringLiteral("rename")) >= 3 && count.value(QStringLiteral("fsync")) >= 3);

    const QStringList states = olderSet
                                   ? QStringList{QStringLiteral("-"), QStringLiteral("bigger"), QStringLiteral("big")}
                                   : QStringList{QStringLiteral("-"), QStringLiteral("big")};
    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        // The writes within a part are alike: a thin sample of them (still
        // more than one in each part); every rename, removal and sync.
        for (const int n : killPoints(it.value(), true, 3)) {
            const QString at = QStringLiteral("%1 %2 of %3").arg(it.key()).arg(n).arg(it.value());
            QVERIFY(setUpFolder());
            const Run killed = killedAt(command, it.key(), n);
            QVERIFY2(killed.killed || killed.exitCode == 0, qPrintable(at + QLatin1Char(' ') + killed.output));
            const QString state = setStateOf(first);
            QVERIFY2(states.contains(state), qPrintable(QStringLiteral("killed at %1: %2").arg(at, state)));
            if (state != QLatin1String("-")) {
                const auto verified = testarchives::runTool(kTool, {QStringLiteral("verify"), first});
                QVERIFY2(verified.exitCode == 0, qPrintable(at + QLatin1Char(' ') + verified.output));
            }
            const Run again = run(kTool, command.mid(1));
            QVERIFY2(again.exitCode == 0, qPrintable(QStringLiteral("after a kill at %1: %2").arg(at, again.output)));
            QCOMPARE(setStateOf(first), QStringLiteral("big"));
            QCOMPARE(hidden(dir.path()), QStringList());
        }
    }
    QVERIFY(testarchives::wimVerify(m_big));
}

namespace {

// The entries of `tree` at the top level, each with what it holds; our hidden folders left out.
QMap<QString, QMap<QString, QByteArray>> byEntry(const QMap<QString, QByteArray> &tree)
{
    QMap<QString, QMap<QString, QByteArray>> entries;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString top = it.key().section(QLatin1Char('/'), 0, 0);
        if (!top.startsWith(QStringLiteral(".pellwick-extract-")))
            entries[top].insert(it.key(), it.value());
    }
    return entries;
}

}  // namespace

void TestCommitSafety::extractKilled_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("older");  // an older copy of /a in the destination
    QTest::newRow("a folder") << QStringLiteral("/a") << false;
    QTest::newRow("a folder over an older one") << QStringLiteral("/a") << true;
    QTest::newRow("every entry of the root") << QStringLiteral("/") << false;
}

// Killed at each of its writes, folders, links and renames: each entry of the destination is
// as it was or complete, never partly new; the next extraction into that
// folder gives the whole result and leaves no hidden folder of ours.
void TestCommitSafety::extractKilled()
{
    QFETCH(QString, path);
    QFETCH(bool, older);
    if (!testarchives::haveTool(QStringLiteral("strace")))
        QSKIP("strace is needed to kill the driver at a chosen write (scripts/install.sh installs it)");
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    const QStringList command{kTool, QStringLiteral("extract"), m_source, QStringLiteral("1"), out, path};
    const auto start = [&] {
        bool ok = QDir(out).removeRecursively() && QDir().mkdir(out);
        if (older) {
            testarchives::writeTree(out, {{QStringLiteral("a/old only.txt"), "old"},
                                          {QStringLiteral("a/b/empty inside"), "older"},
                                          {QStringLiteral("a/b/old/x.txt"), "x"}});
            ok &= ::chmod(QFile::encodeName(out + QStringLiteral("/a/b/old")).constData(), 0750) == 0;
        }
        return ok;
    };
    QVERIFY(start());
    const auto before = byEntry(treeOf(out));
    const QString calls =
        QStringLiteral("write,pwrite64,fallocate,mkdir,rename,renameat,renameat2,symlink,link,linkat,unlink,unlinkat");
    Run clean;
    const QMap<QString, int> count = countCalls(command, calls, dir.filePath(QStringLiteral("calls.log")), &clean);
    QVERIFY2(clean.exitCode == 0, qPrintable(clean.output));
    const auto expected = treeOf(out);
    QVERIFY(!expected.isEmpty());
    const auto after = byEntry(expected);
    if (older) {
        QCOMPARE(expected.value(QStringLiteral("a/old only.txt")), QByteArray("old"));
        QCOMPARE(expected.value(QStringLiteral("a/b/empty inside")), QByteArray());
        QCOMPARE(QFileInfo(out + QStringLiteral("/a/b/old")).permissions() & QFileDevice::ExeGroup,
                 QFileDevice::ExeGroup);
    }

    for (auto it = count.cbegin(); it != count.cend(); ++it) {
        for (const int n : killPoints(it.value(), true)) {
            const QString at = QStringLiteral("%1 %2 of %3").arg(it.key()).arg(n).arg(it.value());
            QVERIFY(start());
            const Run killed = killedAt(command, it.key(), n);
            QVERIFY2(killed.killed || killed.exitCode == 0, qPrintable(at + QLatin1Char(' ') + killed.output));
            const auto now = byEntry(treeOf(out));
            for (auto e = now.cbegin(); e != now.cend(); ++e)
                QVERIFY2(e.value() == before.value(e.key()) || e.value() == after.value(e.key()),
                         qPrintable(QStringLiteral("%1 after a kill at %2").arg(e.key(), at)));
            for (auto e = before.cbegin(); e != before.cend(); ++e)
                QVERIFY2(now.contains(e.key()), qPrintable(QStringLiteral("%1 gone at %2").arg(e.key(), at)));
            const Run again = run(kTool, command.mid(1));
            QVERIFY2(again.exitCode == 0, qPrintable(QStringLiteral("after a kill at %1: %2").arg(at, again.output)));
            QCOMPARE(extractionLeftovers(out), QStringList());
            QVERIFY2(treeOf(out) == expected, qPrintable(at));
        }
    }
    QVERIFY(testarchives::wimVerify(m_source));
}

void TestCommitSafety::onlyAbandonedExtractionFoldersAreRemoved()
{
    QTemporaryDir dir;
    // A live extraction's folder (this process holds its lock), an abandoned
    // one deeper than a path can name, and a folder of the user's that only
    // looks alike.
    StagedExtraction live(dir.path());
    QVERIFY(!live.folder().isEmpty());
    const QString abandoned = dir.filePath(QStringLiteral(".pellwick-extract-Ab12Cd"));
    const QString users = dir.filePath(QStringLiteral(".pellwick-extract-notes"));
    QVERIFY(QDir().mkdir(abandoned) && QDir().mkdir(users));
    {
        const QByteArray level(200, 'n');
        const QString back = QDir::currentPath();
        QVERIFY(QDir::setCurrent(abandoned));
        for (int depth = 0; depth < 30; ++depth)
            QVERIFY(::mkdir(level.constData(), 0700) == 0 && ::chdir(level.constData()) == 0);
        QVERIFY(QDir::setCurrent(back));
    }
    const QString out = dir.path();
    const Run r = run(kTool, {QStringLiteral("extract"), m_source, QStringLiteral("1"), out, QStringLiteral("/a")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QVERIFY(QFileInfo(live.folder()).isDir());
    QVERIFY(!QFileInfo::exists(abandoned));
    QVERIFY(QFileInfo(users).isDir());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("a"))).isDir());
}

QTEST_GUILESS_MAIN(TestCommitSafety)
#include "tst_commit_safety.moc"
