// Applying onto and capturing from NTFS drives: the steps around the library
// call with a scripted runner, and the whole round trip on loop devices.
#include "ops_fixture.h"
#include "operations/ntfs_drive.h"
#include "support/command_runner.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/xattr.h>

using namespace opsfixture;
using testarchives::runTool;

namespace {

// Writes down each command line (and each library call, as "call DEVICE") in
// order, and fails the command lines that begin with one of `failing` with
// that exit code (-1: cannot start), the output saying so.
struct Script {
    QList<QPair<QString, int>> failing;
    QString output;
    QStringList log;

    FormatCommandRunner runner()
    {
        return [this](const QString &line) {
            log << line;
            CommandResult r {true, 0, QString()};
            for (const auto &[prefix, code] : failing) {
                if (line.startsWith(prefix)) {
                    r.started = code >= 0;
                    r.exitCode = code;
                    r.output = output;
                    break;
                }
            }
            if (r.started && r.exitCode == 0)
                r.output = output;
            return r;
        };
    }
    NtfsVolumeCall call(bool result)
    {
        return [this, result](const QString &device) {
            log << QStringLiteral("call ") + device;
            return result;
        };
    }
};

using Failing = QList<QPair<QString, int>>;

NtfsDrive drive(const QString &type = QStringLiteral("fuseblk"), bool readOnly = false,
                const QString &mountPoint = QStringLiteral("/mnt/e"))
{
    return {mountPoint, QStringLiteral("/dev/sdb1"), type, readOnly};
}

// The lines of `wimlib-imagex dir --detailed` that say what Windows keeps:
// paths, short names, attributes, security descriptors, reparse tags, object
// IDs, link counts, streams with their hashes and sizes. Times, offsets and
// reference counts differ between captures and are left out.
QStringList detailedListing(const QString &wim)
{
    const auto r = runTool(QStringLiteral("wimlib-imagex"),
                           {QStringLiteral("dir"), wim, QStringLiteral("1"), QStringLiteral("--detailed")});
    static const QStringList kept = {
        QStringLiteral("Full Path"),     QStringLiteral("Short Name"), QStringLiteral("Attributes"),
        QStringLiteral("Security Descriptor"), QStringLiteral("Reparse Tag"), QStringLiteral("Object ID"),
        QStringLiteral("Link Count"),    QStringLiteral("Hash"),       QStringLiteral("Uncompressed size"),
    };
    QStringList lines;
    for (const QString &line : r.output.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        const QString key = t.section(QLatin1Char('='), 0, 0).trimmed();
        if (kept.contains(key) || (t.contains(QLatin1String("stream")) && t.endsWith(QLatin1Char(':'))))
            lines << t;
    }
    return lines;
}

// A self-relative security descriptor: owner Administrators, group SYSTEM,
// a DACL allowing Everyone read and Administrators everything.
QByteArray securityDescriptor()
{
    auto le16 = [](quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; };
    auto le32 = [](quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; };
    auto sid = [&](quint8 authority, QList<quint32> subs) {
        QByteArray s;
        s += char(1);
        s += char(subs.size());
        s += QByteArray(5, 0) + char(authority);
        for (quint32 sub : subs)
            s += le32(sub);
        return s;
    };
    auto ace = [&](quint32 mask, const QByteArray &who) {
        const QByteArray body = le32(mask) + who;
        return QByteArray(1, 0) + char(3) + le16(quint16(4 + body.size())) + body;
    };
    const QByteArray aces = ace(0x1200a9, sid(1, {0})) + ace(0x1f01ff, sid(5, {32, 544}));
    const QByteArray acl = QByteArray(1, 2) + char(0) + le16(quint16(8 + aces.size())) + le16(2) + le16(0) + aces;
    const QByteArray owner = sid(5, {32, 544});
    const QByteArray group = sid(5, {18});
    const quint32 dacl = 20;
    const quint32 ownerAt = dacl + quint32(acl.size());
    const quint32 groupAt = ownerAt + quint32(owner.size());
    return QByteArray(1, 1) + char(0) + le16(0x8004) + le32(ownerAt) + le32(groupAt) + le32(0) + le32(dacl) + acl
           + owner + group;
}

// A junction (mount point reparse data) to `target`.
QByteArray junction(const QString &target)
{
    const QString substitute = QStringLiteral("\\??\\") + target;
    const QByteArray sub(reinterpret_cast<const char *>(substitute.utf16()), substitute.size() * 2);
    const QByteArray print(reinterpret_cast<const char *>(target.utf16()), target.size() * 2);
    QByteArray data(8, 0);
    qToLittleEndian<quint16>(0, data.data());
    qToLittleEndian<quint16>(quint16(sub.size()), data.data() + 2);
    qToLittleEndian<quint16>(quint16(sub.size() + 2), data.data() + 4);
    qToLittleEndian<quint16>(quint16(print.size()), data.data() + 6);
    data += sub + QByteArray(2, 0) + print + QByteArray(2, 0);
    QByteArray header(8, 0);
    qToLittleEndian<quint32>(0xA0000003u, header.data());
    qToLittleEndian<quint16>(quint16(data.size()), header.data() + 4);
    return header + data;
}

bool setAttribute(const QString &path, const char *name, const QByteArray &value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0) == 0;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace

Q_DECLARE_METATYPE(NtfsDrive)

class TestNtfsDrive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void probe_data();
    void probe();
    void apply_data();
    void apply();
    void capture_data();
    void capture();
    void loopDrivesKeepWhatWindowsNeeds();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestNtfsDrive::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestNtfsDrive::probe_data()
{
    QTest::addColumn<bool>("mounted");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<int>("blkidExit");
    QTest::addColumn<QString>("blkidSays");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("commands");

    const QString blkid = QStringLiteral("blkid -p -o value -s TYPE '/dev/sdb1'");
    QTest::newRow("nothing mounted") << false << QString() << QString() << true << 0 << QString()
                                     << int(NtfsProbe::NotNtfs) << QStringList();
    QTest::newRow("no block device") << true << QStringLiteral("tmpfs") << QStringLiteral("tmpfs") << true << 0
                                     << QString() << int(NtfsProbe::NotNtfs) << QStringList();
    QTest::newRow("ext4") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("ext4") << true << 0 << QString()
                          << int(NtfsProbe::NotNtfs) << QStringList();
    QTest::newRow("kernel ntfs3") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("ntfs3") << false << 0
                                  << QString() << int(NtfsProbe::Ntfs) << QStringList();
    QTest::newRow("ntfs-3g") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("fuseblk") << true << 0
                             << QStringLiteral("ntfs\n") << int(NtfsProbe::Ntfs) << QStringList{blkid};
    QTest::newRow("exfat through FUSE") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("fuseblk") << true
                                        << 0 << QStringLiteral("exfat\n") << int(NtfsProbe::NotNtfs)
                                        << QStringList{blkid};
    QTest::newRow("blkid knows nothing") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("fuseblk") << true
                                         << 2 << QString() << int(NtfsProbe::NotNtfs) << QStringList{blkid};
    QTest::newRow("blkid fails") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("fuseblk") << true << 4
                                 << QStringLiteral("blkid: error") << int(NtfsProbe::Unknown) << QStringList{blkid};
    QTest::newRow("FUSE without root") << true << QStringLiteral("/dev/sdb1") << QStringLiteral("fuseblk") << false
                                       << 0 << QString() << int(NtfsProbe::Unknown) << QStringList();
}

void TestNtfsDrive::probe()
{
    QFETCH(bool, mounted);
    QFETCH(QString, source);
    QFETCH(QString, type);
    QFETCH(bool, privileged);
    QFETCH(int, blkidExit);
    QFETCH(QString, blkidSays);
    QFETCH(int, result);
    QFETCH(QStringList, commands);

    Script script;
    script.output = blkidSays;
    if (blkidExit != 0)
        script.failing = {{QStringLiteral("blkid"), blkidExit}};
    std::optional<platform::MountEntry> mount;
    if (mounted)
        mount = platform::MountEntry{QStringLiteral("/mnt/e"), source, type, false};
    const NtfsProbe probe = ProbeNtfsMount(mount, privileged, script.runner());
    QCOMPARE(int(probe.result), result);
    QCOMPARE(script.log, commands);
    QCOMPARE(probe.detail.isEmpty(), result != NtfsProbe::Unknown);
    if (result == NtfsProbe::Ntfs) {
        QCOMPARE(probe.drive.device, source);
        QCOMPARE(probe.drive.mountPoint, QStringLiteral("/mnt/e"));
    }
}

void TestNtfsDrive::apply_data()
{
    QTest::addColumn<NtfsDrive>("target");
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<Failing>("failing");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<int>("stage");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("detail");

    const QStringList happy = {QStringLiteral("umount '/mnt/e'"), QStringLiteral("call /dev/sdb1"),
                               QStringLiteral("mount -t ntfs-3g '/dev/sdb1' '/mnt/e'")};
    QTest::newRow("applied, mounted back with ntfs-3g")
        << drive() << true << Failing() << QString() << true << int(NtfsDriveOutcome::Restored) << happy << QString();
    QTest::newRow("failed apply is mounted back too")
        << drive() << true << Failing() << QString() << false << int(NtfsDriveOutcome::Restored) << happy << QString();
    QTest::newRow("read-only kernel mount comes back so")
        << drive(QStringLiteral("ntfs3"), true) << true << Failing() << QString() << true
        << int(NtfsDriveOutcome::Restored)
        << QStringList{QStringLiteral("umount '/mnt/e'"), QStringLiteral("call /dev/sdb1"),
                       QStringLiteral("mount -t ntfs3 -o ro '/dev/sdb1' '/mnt/e'")}
        << QString();
    QTest::newRow("quoted mount point")
        << drive(QStringLiteral("fuseblk"), false, QStringLiteral("/media/my disk")) << true << Failing() << QString()
        << true << int(NtfsDriveOutcome::Restored)
        << QStringList{QStringLiteral("umount '/media/my disk'"), QStringLiteral("call /dev/sdb1"),
                       QStringLiteral("mount -t ntfs-3g '/dev/sdb1' '/media/my disk'")}
        << QString();
    QTest::newRow("busy drive is not applied to")
        << drive() << true << Failing{{QStringLiteral("umount"), 32}}
        << QStringLiteral("umount: /mnt/e: target is busy.") << true << int(NtfsDriveOutcome::NotReleased)
        << QStringList{QStringLiteral("umount '/mnt/e'")} << QStringLiteral("/mnt/e 正在被其他程序使用，无法卸载。");
    QTest::newRow("not mounted back")
        << drive() << true << Failing{{QStringLiteral("mount"), 32}} << QStringLiteral("mount: wrong fs type") << true
        << int(NtfsDriveOutcome::NotRestored) << happy << QStringLiteral("/mnt/e 已卸载，未能重新挂载。");
    QTest::newRow("mount cannot start")
        << drive() << true << Failing{{QStringLiteral("mount"), -1}} << QString() << true
        << int(NtfsDriveOutcome::NotRestored) << happy << QStringLiteral("无法运行命令：mount -t ntfs-3g");
    QTest::newRow("not root") << drive() << false << Failing() << QString() << true << int(NtfsDriveOutcome::Refused)
                              << QStringList() << QStringLiteral("root");
}

void TestNtfsDrive::apply()
{
    QFETCH(NtfsDrive, target);
    QFETCH(bool, privileged);
    QFETCH(Failing, failing);
    QFETCH(QString, output);
    QFETCH(bool, applied);
    QFETCH(int, stage);
    QFETCH(QStringList, log);
    QFETCH(QString, detail);

    Script script;
    script.failing = failing;
    script.output = output;
    const NtfsDriveOutcome outcome = ApplyOntoNtfsDrive(target, privileged, script.call(applied), script.runner());
    QCOMPARE(int(outcome.stage), stage);
    QCOMPARE(script.log, log);
    QCOMPARE(outcome.callSucceeded, log.contains(QStringLiteral("call /dev/sdb1")) && applied);
    QVERIFY2(outcome.detail.contains(detail), qPrintable(outcome.detail));
    QCOMPARE(outcome.detail.isEmpty(), detail.isEmpty());
}

void TestNtfsDrive::capture_data()
{
    QTest::addColumn<NtfsDrive>("source");
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<Failing>("failing");
    QTest::addColumn<int>("stage");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("detail");

    const QString roAgain = QStringLiteral("mount -o remount,ro '/mnt/e'");
    const QString call = QStringLiteral("call /dev/sdb1");
    QTest::newRow("remounted read-only and back")
        << drive() << true << QString() << Failing() << int(NtfsDriveOutcome::Restored)
        << QStringList{roAgain, call, QStringLiteral("mount -o remount,rw '/mnt/e'")} << QString();
    QTest::newRow("unmounted when it cannot be remounted")
        << drive() << true << QString() << Failing{{roAgain, 32}} << int(NtfsDriveOutcome::Restored)
        << QStringList{roAgain, QStringLiteral("umount '/mnt/e'"), call,
                       QStringLiteral("mount -t ntfs-3g '/dev/sdb1' '/mnt/e'")}
        << QString();
    QTest::newRow("already read-only") << drive(QStringLiteral("ntfs3"), true) << true << QString() << Failing()
                                       << int(NtfsDriveOutcome::Restored) << QStringList{call} << QString();
    QTest::newRow("stays read-only")
        << drive() << true << QString() << Failing{{QStringLiteral("mount -o remount,rw"), 32}}
        << int(NtfsDriveOutcome::NotRestored)
        << QStringList{roAgain, call, QStringLiteral("mount -o remount,rw '/mnt/e'")}
        << QStringLiteral("/mnt/e 仍是只读的。");
    QTest::newRow("neither remounted nor unmounted")
        << drive() << true << QString() << Failing{{roAgain, 32}, {QStringLiteral("umount"), 32}}
        << int(NtfsDriveOutcome::NotReleased) << QStringList{roAgain, QStringLiteral("umount '/mnt/e'")}
        << QStringLiteral("命令失败（退出码 32）：umount '/mnt/e'");
    QTest::newRow("system drive") << drive(QStringLiteral("fuseblk"), false, QStringLiteral("/")) << true << QString()
                                  << Failing() << int(NtfsDriveOutcome::Refused) << QStringList()
                                  << QStringLiteral("系统盘");
    QTest::newRow("not root") << drive() << false << QString() << Failing() << int(NtfsDriveOutcome::Refused)
                              << QStringList() << QStringLiteral("root");
    // The archive being written must stay writable: not on the drive captured.
    const QString here = platform::mountPointOf(QDir::tempPath());
    if (here != QLatin1String("/")) {
        QTest::newRow("archive on the drive")
            << drive(QStringLiteral("fuseblk"), false, here) << true << QDir::tempPath() + QStringLiteral("/x.wim")
            << Failing() << int(NtfsDriveOutcome::Refused) << QStringList() << QStringLiteral("x.wim 位于要捕获的分区上");
    }
}

void TestNtfsDrive::capture()
{
    QFETCH(NtfsDrive, source);
    QFETCH(bool, privileged);
    QFETCH(QString, archive);
    QFETCH(Failing, failing);
    QFETCH(int, stage);
    QFETCH(QStringList, log);
    QFETCH(QString, detail);

    Script script;
    script.failing = failing;
    const NtfsDriveOutcome outcome
        = CaptureFromNtfsDrive(source, privileged, {archive}, script.call(true), script.runner());
    QCOMPARE(int(outcome.stage), stage);
    QCOMPARE(script.log, log);
    QCOMPARE(outcome.callSucceeded, log.contains(QStringLiteral("call /dev/sdb1")));
    QVERIFY2(outcome.detail.contains(detail), qPrintable(outcome.detail));
    QCOMPARE(outcome.detail.isEmpty(), detail.isEmpty());
}

void TestNtfsDrive::loopDrivesKeepWhatWindowsNeeds()
{
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    if (!testarchives::haveTool(QStringLiteral("wimlib-imagex")))
        QSKIP("wimlib-imagex (package wimtools) is needed to list what the images hold");
    LoopDrive original(m_dir->filePath(QStringLiteral("original")), 64, QStringLiteral("ntfs"));
    QVERIFY2(original.ok(), qPrintable(original.error()));
    const QString mp = original.mountPoint();

    // Prepared through ntfs-3g's Windows interfaces, as Windows would leave it.
    QCOMPARE(runTool(QStringLiteral("umount"), {mp}).exitCode, 0);
    const auto windowsMount = runTool(QStringLiteral("ntfs-3g"),
                                      {QStringLiteral("-o"), QStringLiteral("streams_interface=windows"),
                                       original.device(), mp});
    QVERIFY2(windowsMount.exitCode == 0, qPrintable(windowsMount.output));
    const QString file = mp + QStringLiteral("/Program Files/Long File Name.txt");
    QVERIFY(QDir().mkpath(mp + QStringLiteral("/Program Files")));
    QVERIFY(QDir().mkpath(mp + QStringLiteral("/Documents and Settings")));
    QVERIFY(QDir().mkpath(mp + QStringLiteral("/Windows/Temp")));
    QVERIFY(writeFile(file, "hello from Windows\n"));
    QVERIFY(writeFile(file + QStringLiteral(":Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n"));
    QVERIFY(writeFile(mp + QStringLiteral("/Windows/Temp/setup.log"), "left out\n"));
    QVERIFY(setAttribute(file, "system.ntfs_acl", securityDescriptor()));
    QVERIFY(setAttribute(file, "system.ntfs_dos_name", "LONGFI~1.TXT"));
    QByteArray attributes(4, 0);
    qToBigEndian<quint32>(0x23, attributes.data());  // read-only, hidden, archive
    QVERIFY(setAttribute(file, "system.ntfs_attrib_be", attributes));
    QVERIFY(setAttribute(mp + QStringLiteral("/Documents and Settings"), "system.ntfs_reparse_data",
                         junction(QStringLiteral("C:\\Users"))));
    QVERIFY(setAttribute(mp + QStringLiteral("/Windows"), "system.ntfs_object_id", QByteArray(16, '\x5a')));
    QCOMPARE(runTool(QStringLiteral("umount"), {mp}).exitCode, 0);
    QCOMPARE(runTool(QStringLiteral("mount"), {original.device(), mp}).exitCode, 0);

    const FormatCommandRunner run = [](const QString &line) { return RunCommandWithStatus(line); };
    // A folder below the drive root is no drive: it stays in the ordinary way.
    QCOMPARE(ProbeNtfsDrive(mp + QStringLiteral("/Program Files"), true, run).result, NtfsProbe::NotNtfs);
    const NtfsProbe source = ProbeNtfsDrive(mp, true, run);
    QCOMPARE(source.result, NtfsProbe::Ntfs);
    QCOMPARE(source.drive.device, original.device());

    WimlibBackend lib;
    const QString wim = m_dir->filePath(QStringLiteral("volume.wim"));
    HWIM archive = lib.WIMCreateFile(wim, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr);
    QVERIFY(archive);
    auto captureInto = [&](HWIM into, const NtfsProbe &from, bool *wasReadOnly) {
        return CaptureFromNtfsDrive(
            from.drive, true, {wim},
            [&](const QString &device) {
                const auto during = platform::mountAt(from.drive.mountPoint);
                *wasReadOnly = !during || during->readOnly;
                HWIM image = lib.WIMCaptureImage(into, device, WIM_FLAG_NTFS_VOLUME);
                return image && lib.WIMCloseHandle(image);
            },
            run);
    };
    bool wasReadOnly = false;
    NtfsDriveOutcome captured = captureInto(archive, source, &wasReadOnly);
    QVERIFY2(captured.callSucceeded, qPrintable(lib.LastErrorText()));
    QCOMPARE(captured.stage, NtfsDriveOutcome::Restored);
    QVERIFY(wasReadOnly);
    QVERIFY(!platform::mountAt(mp)->readOnly);

    // The original as captured holds what was prepared.
    const QStringList before = detailedListing(wim);
    const QString listed = before.join(QLatin1Char('\n'));
    QVERIFY(listed.contains(QStringLiteral("Short Name          = \"LONGFI~1.TXT\"")));
    QVERIFY(listed.contains(QStringLiteral("Attributes          = 0x00000023")));
    QVERIFY(listed.contains(QStringLiteral("Named data stream \"Zone.Identifier\":")));
    QVERIFY(listed.contains(QStringLiteral("Reparse Tag         = 0xa0000003")));
    QVERIFY(listed.contains(QStringLiteral("Object ID           = 0x5a5a5a5a")));
    QVERIFY(listed.contains(QString::fromLatin1(securityDescriptor().toHex())));

    // Applied onto a second, freshly formatted drive, and captured again.
    LoopDrive copy(m_dir->filePath(QStringLiteral("copy")), 64, QStringLiteral("ntfs"));
    QVERIFY2(copy.ok(), qPrintable(copy.error()));
    const NtfsProbe target = ProbeNtfsDrive(copy.mountPoint(), true, run);
    QCOMPARE(target.result, NtfsProbe::Ntfs);
    HWIM image = lib.WIMLoadImage(archive, 1);
    const NtfsDriveOutcome applied = ApplyOntoNtfsDrive(
        target.drive, true,
        [&](const QString &device) {
            return lib.WIMApplyImage(image, device, WIM_FLAG_VERIFY | WIM_FLAG_INDEX | WIM_FLAG_NTFS_VOLUME);
        },
        run);
    lib.WIMCloseHandle(image);
    QVERIFY2(applied.callSucceeded, qPrintable(lib.LastErrorText()));
    QCOMPARE(applied.stage, NtfsDriveOutcome::Restored);
    const auto back = platform::mountAt(copy.mountPoint());
    QVERIFY(back && back->source == copy.device());
    QFile readBack(copy.mountPoint() + QStringLiteral("/Program Files/Long File Name.txt"));
    QVERIFY(readBack.open(QIODevice::ReadOnly));
    QCOMPARE(readBack.readAll(), QByteArray("hello from Windows\n"));
    readBack.close();

    const QString again = m_dir->filePath(QStringLiteral("again.wim"));
    HWIM second = lib.WIMCreateFile(again, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr);
    captured = captureInto(second, target, &wasReadOnly);
    QVERIFY2(captured.callSucceeded, qPrintable(lib.LastErrorText()));
    QCOMPARE(detailedListing(again), before);
    lib.WIMCloseHandle(second);
    lib.WIMCloseHandle(archive);

    // A mounted drive is refused by the library, whatever a caller forgets.
    HWIM third = lib.WIMCreateFile(m_dir->filePath(QStringLiteral("refused.wim")), WIM_GENERIC_READ_WRITE,
                                   WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr);
    QVERIFY(!lib.WIMCaptureImage(third, copy.device(), WIM_FLAG_NTFS_VOLUME));
    QCOMPARE(lib.LastError().kind, ImagingError::Kind::Busy);
    QVERIFY2(lib.LastErrorText().contains(copy.mountPoint()), qPrintable(lib.LastErrorText()));
    lib.WIMCloseHandle(third);
}

QTEST_GUILESS_MAIN(TestNtfsDrive)
#include "tst_ntfs_drive.moc"
