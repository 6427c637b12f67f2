// What the drive rules mean on Linux: roots, drive-relative paths, the
// Windows folders of a capture source and the exclusion list's folder.
#include "support/command_runner.h"
#include "support/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
}

bool makeFifo(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool mountAt(const QString &source, const QString &target, const char *type, unsigned long flags,
             const char *options = nullptr)
{
    return ::mount(QFile::encodeName(source).constData(), QFile::encodeName(target).constData(), type, flags, options)
           == 0;
}

// The words the shell makes of a command line, program first.
QStringList shellWords(const QString &commandLine)
{
    QStringList words = RunCommand(QStringLiteral("set -- ") + commandLine + QStringLiteral("; printf '%s\\0' \"$@\""))
                            .split(QChar(u'\0'));
    if (!words.isEmpty() && words.last().isEmpty())
        words.removeLast();
    return words;
}

}  // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void withoutTrailingSeparator_data();
    void withoutTrailingSeparator();
    void normalizedFolderPath_data();
    void normalizedFolderPath();
    void isSystemDriveRoot_data();
    void isSystemDriveRoot();
    void driveRelativePathOnTheRootFilesystem_data();
    void driveRelativePathOnTheRootFilesystem();

    void windowsFolders_data();
    void windowsFolders();
    void exactNameIsPreferred();

    void exclusionListDirectory_data();
    void exclusionListDirectory();

    void mountedFilesystems();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfigHome;
    QString m_configHome;
    QStringList m_mounts;  // unmounted at the end, innermost first
    bool m_privateMounts = false;
    QString m_whyNoMounts;
};

void TestPlatform::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The per-user fallback folder must land in the sandbox, not in $HOME.
    m_oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    m_configHome = m_dir.filePath(QStringLiteral("config-home"));
    QVERIFY(QDir().mkpath(m_configHome));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome));

    // Mount tests get a mount table of their own that nothing outside sees.
    if (::unshare(CLONE_NEWNS) != 0)
        m_whyNoMounts = QStringLiteral("cannot make a private mount namespace (needs root): ")
                        + QString::fromLocal8Bit(std::strerror(errno));
    else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        m_whyNoMounts =
            QStringLiteral("cannot make the mounts private: ") + QString::fromLocal8Bit(std::strerror(errno));
    else
        m_privateMounts = true;
}

void TestPlatform::cleanupTestCase()
{
    for (auto it = m_mounts.crbegin(); it != m_mounts.crend(); ++it)
        ::umount2(QFile::encodeName(*it).constData(), MNT_DETACH);
    if (m_oldConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_oldConfigHome);
}

void TestPlatform::withoutTrailingSeparator_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("root stays") << u"/"_qs << u"/"_qs;
    QTest::newRow("one removed") << u"/a/"_qs << u"/a"_qs;
    QTest::newRow("none there") << u"/a"_qs << u"/a"_qs;
    QTest::newRow("only one of two") << u"/a//"_qs << u"/a/"_qs;
    QTest::newRow("double root") << u"//"_qs << u"/"_qs;
    QTest::newRow("relative") << u"data/"_qs << u"data"_qs;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("Chinese") << u"/mnt/映像/"_qs << u"/mnt/映像"_qs;
}

void TestPlatform::withoutTrailingSeparator()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(platform::withoutTrailingSeparator(path), expected);
}

void TestPlatform::normalizedFolderPath_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("trailing separator") << u"/data/src/"_qs << u"/data/src"_qs;
    QTest::newRow("doubled separators") << u"//data//src//"_qs << u"/data/src"_qs;
    QTest::newRow("dot parts") << u"/data/./src/."_qs << u"/data/src"_qs;
    QTest::newRow("root") << u"/"_qs << u"/"_qs;
    QTest::newRow("root spelled long") << u"/./"_qs << u"/"_qs;
    QTest::newRow("dot-dot stays") << u"/data/../src"_qs << u"/data/../src"_qs;
    QTest::newRow("relative") << u"./data//x/"_qs << u"data/x"_qs;
    QTest::newRow("current folder") << u"./"_qs << u"."_qs;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("dotted names stay") << u"/a/.hidden/..b"_qs << u"/a/.hidden/..b"_qs;
}

void TestPlatform::normalizedFolderPath()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QCOMPARE(platform::normalizedFolderPath(typed), expected);
}

void TestPlatform::isSystemDriveRoot_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    const QString toRoot = m_dir.filePath(QStringLiteral("link-to-root"));
    QFile::link(QStringLiteral("/"), toRoot);
    const QString toTmp = m_dir.filePath(QStringLiteral("link-to-dir"));
    QFile::link(m_dir.path(), toTmp);

    QTest::newRow("root") << u"/"_qs << true;
    QTest::newRow("root with dot") << u"/."_qs << true;
    QTest::newRow("double slash") << u"//"_qs << true;
    QTest::newRow("up to root") << u"/usr/.."_qs << true;
    QTest::newRow("link to root") << toRoot << true;
    QTest::newRow("a folder") << u"/usr"_qs << false;
    QTest::newRow("link to a folder") << toTmp << false;
    QTest::newRow("empty") << QString() << false;
}

void TestPlatform::isSystemDriveRoot()
{
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QCOMPARE(platform::isSystemDriveRoot(path), expected);
    if (expected) {
        QVERIFY(platform::isDriveRoot(path));
        QCOMPARE(platform::driveRelativePath(path), QStringLiteral("\\"));
    }
}

void TestPlatform::driveRelativePathOnTheRootFilesystem_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("root") << u"/"_qs << u"\\"_qs;
    QTest::newRow("nested, not existing") << u"/no-such/dir/file.txt"_qs << u"\\no-such\\dir\\file.txt"_qs;
    QTest::newRow("trailing separator") << u"/no-such/dir/"_qs << u"\\no-such\\dir"_qs;
    QTest::newRow("dot-dot") << u"/no-such/../other"_qs << u"\\other"_qs;
    QTest::newRow("Chinese") << u"/no-such/映像 文件"_qs << u"\\no-such\\映像 文件"_qs;
}

void TestPlatform::driveRelativePathOnTheRootFilesystem()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    // These names do not exist, so nothing but "/" is mounted over them.
    QCOMPARE(platform::mountPointOf(path), QStringLiteral("/"));
    QCOMPARE(platform::driveRelativePath(path), expected);
}

void TestPlatform::windowsFolders_data()
{
    QTest::addColumn<QStringList>("files");  // "p" a file, "p/" a folder, "p|" a FIFO, "p>t" a link to t
    QTest::addColumn<bool>("hasWindows");
    QTest::addColumn<QString>("hive");  // relative to the source; empty when there is none

    QTest::newRow("as Windows writes it")
        << QStringList{u"Windows/System32/config/SOFTWARE"_qs} << true << u"Windows/System32/config/SOFTWARE"_qs;
    QTest::newRow("all lower case") << QStringList{u"windows/system32/config/software"_qs} << true
                                    << u"windows/system32/config/software"_qs;
    QTest::newRow("mixed case") << QStringList{u"WINDOWS/sYsTeM32/CONFIG/Software"_qs} << true
                                << u"WINDOWS/sYsTeM32/CONFIG/Software"_qs;
    QTest::newRow("no hive") << QStringList{u"Windows/System32/config/SYSTEM"_qs} << true << QString();
    QTest::newRow("empty source") << QStringList{} << false << QString();
    QTest::newRow("other folders only") << QStringList{u"Users/"_qs, u"Program Files/"_qs} << false << QString();
    QTest::newRow("Windows is a file") << QStringList{u"Windows"_qs} << false << QString();
    QTest::newRow("Windows is a FIFO") << QStringList{u"windows|"_qs} << false << QString();
    QTest::newRow("Windows is a broken link") << QStringList{u"Windows>nowhere"_qs} << false << QString();
    QTest::newRow("Windows is a link to a folder")
        << QStringList{u"real/System32/config/SOFTWARE"_qs, u"Windows>real"_qs} << true
        << u"Windows/System32/config/SOFTWARE"_qs;
    QTest::newRow("hive is a folder") << QStringList{u"Windows/System32/config/SOFTWARE/"_qs} << true << QString();
    // Opening a FIFO for reading would wait for a writer for ever.
    QTest::newRow("hive is a FIFO") << QStringList{u"Windows/System32/config/SOFTWARE|"_qs} << true << QString();
    QTest::newRow("hive is a broken link")
        << QStringList{u"Windows/System32/config/SOFTWARE>missing"_qs} << true << QString();
}

void TestPlatform::windowsFolders()
{
    QFETCH(QStringList, files);
    QFETCH(bool, hasWindows);
    QFETCH(QString, hive);

    QTemporaryDir source(m_dir.filePath(QStringLiteral("source-XXXXXX")));
    QVERIFY(source.isValid());
    for (const QString &entry : files) {
        const int arrow = entry.indexOf(QLatin1Char('>'));
        if (arrow > 0) {
            QVERIFY(QDir().mkpath(QFileInfo(source.filePath(entry.left(arrow))).path()));
            QVERIFY(QFile::link(entry.mid(arrow + 1), source.filePath(entry.left(arrow))));
        } else if (entry.endsWith(QLatin1Char('|'))) {
            QVERIFY(makeFifo(source.filePath(entry.chopped(1))));
        } else if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(source.filePath(entry)));
        } else {
            QVERIFY(makeFile(source.filePath(entry)));
        }
    }

    QCOMPARE(platform::hasWindowsFolder(source.path()), hasWindows);
    QCOMPARE(platform::softwareHivePath(source.path()), hive.isEmpty() ? QString() : source.filePath(hive));
}

void TestPlatform::exactNameIsPreferred()
{
    QTemporaryDir dir(m_dir.filePath(QStringLiteral("cases-XXXXXX")));
    QVERIFY(dir.isValid());
    for (const char *name : {"config", "CONFIG", "Config"})
        QVERIFY(QDir().mkpath(dir.filePath(QString::fromLatin1(name))));
    QVERIFY(makeFile(dir.filePath(QStringLiteral("software"))));
    QVERIFY(makeFile(dir.filePath(QStringLiteral("SOFTWARE"))));

    QCOMPARE(platform::childIgnoringCase(dir.path(), u"CONFIG"_qs, true), dir.filePath(u"CONFIG"_qs));
    QCOMPARE(platform::childIgnoringCase(dir.path(), u"Config"_qs, true), dir.filePath(u"Config"_qs));
    QCOMPARE(platform::childIgnoringCase(dir.path(), u"SOFTWARE"_qs, false), dir.filePath(u"SOFTWARE"_qs));
    // Without an exact match, any spelling that exists.
    const QString any = platform::childIgnoringCase(dir.path(), u"cOnFiG"_qs, true);
    QVERIFY2(QFileInfo(any).isDir() && QFileInfo(any).fileName().compare(u"config"_qs, Qt::CaseInsensitive) == 0,
             qPrintable(any));
    // A folder is not a file and a file is not a folder.
    QCOMPARE(platform::childIgnoringCase(dir.path(), u"config"_qs, false), QString());
    QCOMPARE(platform::childIgnoringCase(dir.path(), u"software"_qs, true), QString());
    QCOMPARE(platform::childIgnoringCase(dir.filePath(u"no-such"_qs), u"config"_qs, true), QString());
}

void TestPlatform::exclusionListDirectory_data()
{
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<bool>("keptAsItIs");

    // A portable copy: its folder holds its lists already.
    const QString writable = m_dir.filePath(QStringLiteral("app"));
    QDir().mkpath(writable);
    makeFile(writable + QStringLiteral("/set2.data"));
    const QString older = m_dir.filePath(QStringLiteral("older-app"));
    QDir().mkpath(older);
    makeFile(older + QStringLiteral("/set.data"));
    // An installed copy: a folder of programs without lists of its own.
    const QString installed = m_dir.filePath(QStringLiteral("installed/bin"));
    QDir().mkpath(installed);
    const QString file = m_dir.filePath(QStringLiteral("plain-file"));
    makeFile(file);

    QTest::newRow("portable, no separator") << writable << true;
    QTest::newRow("portable, with separator") << writable + QLatin1Char('/') << true;
    QTest::newRow("portable, the older file") << older << true;
    QTest::newRow("installed copy") << installed << false;
    QTest::newRow("system folder") << QStringLiteral("/usr/bin") << false;
    // This test runs from the build tree, as a developer runs the program.
    QTest::newRow("build tree") << QCoreApplication::applicationDirPath() << true;
    // Root may write anywhere, but nothing can be created below a file.
    QTest::newRow("below a file") << file + QStringLiteral("/bin") << false;
    QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no-such/bin")) << false;
    QTest::newRow("empty") << QString() << false;
}

void TestPlatform::exclusionListDirectory()
{
    QFETCH(QString, appDir);
    QFETCH(bool, keptAsItIs);

    const QString dir = platform::exclusionListDirectory(appDir);
    QVERIFY2(dir.endsWith(QLatin1Char('/')), qPrintable(dir));
    // Never a folder of the system's packages, whatever it holds.
    QVERIFY(!keptAsItIs || !platform::isSystemFolder(dir));
    QVERIFY(platform::isSystemFolder(QStringLiteral("/usr/local/bin"))
            && platform::isSystemFolder(QStringLiteral("/etc")));
    QVERIFY(!platform::isSystemFolder(m_dir.path()));
    if (keptAsItIs) {
        QCOMPARE(QDir::cleanPath(dir), QDir::cleanPath(appDir));
        // The writability probe leaves nothing behind.
        QCOMPARE(
            QDir(dir).entryList({QStringLiteral(".pellwick-probe*")}, QDir::AllEntries | QDir::Hidden | QDir::System),
            QStringList());
    } else {
        QVERIFY2(dir.startsWith(m_configHome + QLatin1Char('/')), qPrintable(dir));
        QVERIFY2(QFileInfo(dir).isDir(), "the fallback folder is created");
    }
}

void TestPlatform::mountedFilesystems()
{
    if (!m_privateMounts)
        QSKIP(qPrintable(m_whyNoMounts));

    // Space and quote: mountinfo escapes the one, the shell must survive the other.
    const QString mnt = m_dir.filePath(QStringLiteral("mnt it's"));
    const QString outside = m_dir.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(mnt));
    QVERIFY(QDir().mkpath(outside));
    QVERIFY2(mountAt(QStringLiteral("pellwick-tmpfs"), mnt, "tmpfs", 0, "size=1m"), std::strerror(errno));
    m_mounts << mnt;
    QVERIFY(QDir().mkpath(mnt + QStringLiteral("/data/logs")));

    QCOMPARE(platform::mountPointOf(mnt + QStringLiteral("/data/logs")), mnt);
    QCOMPARE(platform::mountPointOf(mnt), mnt);
    QCOMPARE(platform::driveRelativePath(mnt + QStringLiteral("/data/logs")), QStringLiteral("\\data\\logs"));
    QCOMPARE(platform::driveRelativePath(mnt + QStringLiteral("/")), QStringLiteral("\\"));
    QVERIFY(platform::sameDrive(mnt + QStringLiteral("/data"), mnt + QStringLiteral("/data/logs")));
    QVERIFY(!platform::sameDrive(mnt + QStringLiteral("/data"), outside));
    QCOMPARE(platform::deviceOfMountPoint(mnt), QStringLiteral("pellwick-tmpfs"));
    QCOMPARE(platform::deviceOfMountPoint(mnt + QStringLiteral("/data")), QString());
    // Not a block device: no drive, and nothing to format.
    QVERIFY(!platform::isDriveRoot(mnt));
    QCOMPARE(platform::formatCommands(mnt, QStringLiteral("ravo")), QStringList());
    QCOMPARE(platform::formatCommands(outside, QStringLiteral("ravo")), QStringList());

    // A folder that even root cannot write to.
    const QString readOnly = m_dir.filePath(QStringLiteral("read-only"));
    QVERIFY(QDir().mkpath(readOnly));
    QVERIFY2(mountAt(QStringLiteral("pellwick-ro"), readOnly, "tmpfs", MS_RDONLY, "size=1m"), std::strerror(errno));
    m_mounts << readOnly;
    const QString fallback = platform::exclusionListDirectory(readOnly);
    QVERIFY2(fallback.startsWith(m_configHome + QLatin1Char('/')), qPrintable(fallback));

    // The system drive's device, seen through a bind mount of one of its folders.
    const QString rootDevice = platform::deviceOfMountPoint(QStringLiteral("/"));
    if (!rootDevice.startsWith(QLatin1String("/dev/")))
        QSKIP("the root filesystem is not on a block device here (an overlay?), so no bind mount of it is a drive");
    const QString src = m_dir.filePath(QStringLiteral("bind source"));
    const QString bound = m_dir.filePath(QStringLiteral("drive \"E\" $(x)"));
    QVERIFY(QDir().mkpath(src));
    QVERIFY(QDir().mkpath(bound));
    QVERIFY2(mountAt(src, bound, nullptr, MS_BIND), std::strerror(errno));
    m_mounts << bound;
    QVERIFY(platform::isDriveRoot(bound));
    QVERIFY(!platform::isSystemDriveRoot(bound));
    QCOMPARE(platform::deviceOfMountPoint(bound), rootDevice);

    const QStringList commands = platform::formatCommands(bound, QStringLiteral("ravo"));
    QCOMPARE(commands.size(), 3);
    QCOMPARE(shellWords(commands[0]), (QStringList{u"umount"_qs, bound}));
    QCOMPARE(shellWords(commands[1]),
             (QStringList{u"mkntfs"_qs, u"--quick"_qs, u"--force"_qs, u"--label"_qs, u"ravo"_qs, rootDevice}));
    QCOMPARE(shellWords(commands[2]), (QStringList{u"mount"_qs, u"-t"_qs, u"ntfs-3g"_qs, rootDevice, bound}));

    // A single file bound from that disk, as containers do for /etc/hosts.
    const QString fileSrc = m_dir.filePath(QStringLiteral("file-source"));
    const QString fileBound = m_dir.filePath(QStringLiteral("file-bound"));
    QVERIFY(makeFile(fileSrc));
    QVERIFY(makeFile(fileBound));
    QVERIFY2(mountAt(fileSrc, fileBound, nullptr, MS_BIND), std::strerror(errno));
    m_mounts << fileBound;
    QCOMPARE(platform::deviceOfMountPoint(fileBound), rootDevice);
    QVERIFY(!platform::isDriveRoot(fileBound));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
