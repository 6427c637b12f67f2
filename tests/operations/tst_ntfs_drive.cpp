// Applying onto and capturing from NTFS drives: the steps around the library
// call with a scripted runner, and the whole round trip on loop devices.
#include "imaging/wim_handle.h"
#include "operations/ntfs_drive.h"
#include "ops_fixture.h"
#include "support/command_runner.h"
#include "test_archives.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cerrno>

#include <sys/xattr.h>

using namespace opsfixture;
using namespace Qt::StringLiterals;
using testarchives::runTool;

static const QString kTool = QStringLiteral(PELLWICK_WIM_TOOL);

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
            CommandResult r{true, 0, QString()};
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
    return {mountPoint, QStringLiteral("/dev/sdb1"), type, readOnly, {}};
}

// What `wimlib-imagex dir --detailed` says Windows keeps of each path: short
// name, attributes, security descriptor, reparse tag, object ID, link count,
// streams with their hashes and sizes. Times, offsets and reference counts
// differ between captures and are left out.
QMap<QString, QString> detailedListing(const QString &wim)
{
    const auto r = runTool(u"wimlib-imagex"_s, {u"dir"_s, wim, u"1"_s, u"--detailed"_s});
    static const QStringList kept = {u"Short Name"_s,  u"Attributes"_s,       u"Security Descriptor"_s,
                                     u"Reparse Tag"_s, u"Object ID"_s,        u"Link Count"_s,
                                     u"Hash"_s,        u"Uncompressed size"_s};
    QMap<QString, QString> entries;
    QString path;
    for (const QString &line : r.output.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        const QString key = t.section(QLatin1Char('='), 0, 0).trimmed();
        if (key == QLatin1String("Full Path"))
            path = t.section(QLatin1Char('='), 1).trimmed();
        else if (kept.contains(key) || (t.contains(QLatin1String("stream")) && t.endsWith(QLatin1Char(':'))))
            entries[path] += t + QLatin1Char('\n');
    }
    return entries;
}

// Owner Administrators, group SYSTEM; Everyone may read, Administrators everything.
const QByteArray kSecurityDescriptor = QByteArray::fromHex(
    "0100048048000000580000000000000014000000020034000200000000031400a900120001010000000000010000000000031800ff011f00"
    "0102000000000005200000002002000001020000000000052000000020020000010100000000000512000000");
// A junction to C:\dir (mount point reparse data).
const QByteArray kJunction = QByteArray::fromHex(
    "030000a02c0000000000140016000c005c003f003f005c0043003a005c00640069007200000043003a005c006400690072000000");

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
    void steps_data();
    void steps();
    void reasons_data();
    void reasons();
    void mountBackNeedsTheHelper();
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
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<int>("blkidExit");
    QTest::addColumn<QString>("blkidSays");
    QTest::addColumn<int>("result");

    QTest::newRow("nothing mounted") << QString() << true << 0 << QString() << int(NtfsProbe::NotNtfs);
    QTest::newRow("ext4") << u"ext4"_s << true << 0 << QString() << int(NtfsProbe::NotNtfs);
    QTest::newRow("kernel ntfs3, no probe") << u"ntfs3"_s << false << 0 << QString() << int(NtfsProbe::Ntfs);
    QTest::newRow("ntfs-3g") << u"fuseblk"_s << true << 0 << u"ntfs\n"_s << int(NtfsProbe::Ntfs);
    QTest::newRow("exfat through FUSE") << u"fuseblk"_s << true << 0 << u"exfat\n"_s << int(NtfsProbe::NotNtfs);
    QTest::newRow("blkid knows nothing") << u"fuseblk"_s << true << 2 << QString() << int(NtfsProbe::NotNtfs);
    QTest::newRow("blkid fails") << u"fuseblk"_s << true << 4 << u"blkid: error"_s << int(NtfsProbe::Unknown);
    QTest::newRow("FUSE without root") << u"fuseblk"_s << false << 0 << QString() << int(NtfsProbe::Unknown);
}

void TestNtfsDrive::probe()
{
    QFETCH(QString, type);
    QFETCH(bool, privileged);
    QFETCH(int, blkidExit);
    QFETCH(QString, blkidSays);
    QFETCH(int, result);

    Script script;
    script.output = blkidSays;
    if (blkidExit != 0)
        script.failing = {{u"blkid"_s, blkidExit}};
    std::optional<platform::MountEntry> mount;
    if (!type.isEmpty())
        mount = platform::MountEntry{u"/mnt/e"_s, u"/dev/sdb1"_s, type, false, {}};
    const NtfsProbe probe = ProbeNtfsMount(mount, privileged, script.runner());
    QCOMPARE(int(probe.result), result);
    // Only ntfs-3g's fuseblk needs the device probed, and only root may.
    const bool probed = type == QLatin1String("fuseblk") && privileged;
    QCOMPARE(script.log, probed ? QStringList{u"blkid -p -o value -s TYPE '/dev/sdb1'"_s} : QStringList());
    QCOMPARE(probe.detail.isEmpty(), result != NtfsProbe::Unknown);
    QCOMPARE(probe.drive.device, result == NtfsProbe::Ntfs ? u"/dev/sdb1"_s : QString());
}

void TestNtfsDrive::steps_data()
{
    QTest::addColumn<bool>("capture");
    QTest::addColumn<NtfsDrive>("drive");
    QTest::addColumn<bool>("privileged");
    QTest::addColumn<Failing>("failing");
    QTest::addColumn<bool>("callResult");
    QTest::addColumn<int>("stage");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("detail");

    const QString umount = u"umount '/mnt/e'"_s;
    const QString call = u"call /dev/sdb1"_s;
    const QString mountBack = u"mount -t ntfs-3g '/dev/sdb1' '/mnt/e'"_s;
    const QString ro = u"mount -o remount,ro '/mnt/e'"_s;
    const QString rw = u"mount -o remount,rw '/mnt/e'"_s;
    const QStringList applied = {umount, call, mountBack};

    QTest::newRow("apply") << false << drive() << true << Failing() << true << int(NtfsDriveOutcome::Restored)
                           << applied << QString();
    QTest::newRow("apply fails, mounted back")
        << false << drive() << true << Failing() << false << int(NtfsDriveOutcome::Restored) << applied << QString();
    QTest::newRow("apply: read-only ntfs3 comes back so")
        << false << drive(u"ntfs3"_s, true) << true << Failing() << true << int(NtfsDriveOutcome::Restored)
        << QStringList{umount, call, u"mount -t ntfs3 -o ro '/dev/sdb1' '/mnt/e'"_s} << QString();
    QTest::newRow("apply: busy") << false << drive() << true << Failing{{u"umount"_s, 32}} << true
                                 << int(NtfsDriveOutcome::NotReleased) << QStringList{umount}
                                 << u"/mnt/e 正在被其他程序使用，无法卸载。"_s;
    QTest::newRow("apply: not mounted back")
        << false << drive() << true << Failing{{u"mount -t"_s, 32}} << true << int(NtfsDriveOutcome::NotRestored)
        << applied << u"/mnt/e 已卸载，未能重新挂载。"_s;
    QTest::newRow("apply: not root") << false << drive() << false << Failing() << true << int(NtfsDriveOutcome::Refused)
                                     << QStringList() << u"root"_s;
    QTest::newRow("capture: read-only meanwhile")
        << true << drive() << true << Failing() << true << int(NtfsDriveOutcome::Restored) << QStringList{ro, call, rw}
        << QString();
    QTest::newRow("capture: unmounted when it cannot be remounted")
        << true << drive() << true << Failing{{ro, 32}} << true << int(NtfsDriveOutcome::Restored)
        << QStringList{ro, umount, call, mountBack} << QString();
    QTest::newRow("capture: already read-only") << true << drive(u"ntfs3"_s, true) << true << Failing() << true
                                                << int(NtfsDriveOutcome::Restored) << QStringList{call} << QString();
    QTest::newRow("capture: stays read-only")
        << true << drive() << true << Failing{{rw, 32}} << true << int(NtfsDriveOutcome::NotRestored)
        << QStringList{ro, call, rw} << u"/mnt/e 仍是只读的。"_s;
    QTest::newRow("capture: neither remounted nor unmounted")
        << true << drive() << true << Failing{{ro, 32}, {u"umount"_s, 32}} << true << int(NtfsDriveOutcome::NotReleased)
        << QStringList{ro, umount} << u"命令失败（退出码 32）：umount"_s;
    QTest::newRow("capture: system drive") << true << drive(u"fuseblk"_s, false, u"/"_s) << true << Failing() << true
                                           << int(NtfsDriveOutcome::Refused) << QStringList() << u"系统盘"_s;
}

void TestNtfsDrive::steps()
{
    QFETCH(bool, capture);
    QFETCH(NtfsDrive, drive);
    QFETCH(bool, privileged);
    QFETCH(Failing, failing);
    QFETCH(bool, callResult);
    QFETCH(int, stage);
    QFETCH(QStringList, log);
    QFETCH(QString, detail);

    Script script;
    script.failing = failing;
    script.output = u"umount: /mnt/e: target is busy."_s;
    const NtfsDriveOutcome outcome =
        capture ? CaptureFromNtfsDrive(drive, privileged, {}, script.call(callResult), script.runner())
                : ApplyOntoNtfsDrive(drive, privileged, {}, script.call(callResult), script.runner());
    QCOMPARE(int(outcome.stage), stage);
    QCOMPARE(script.log, log);
    QCOMPARE(outcome.callSucceeded, callResult && log.contains(u"call /dev/sdb1"_s));
    QVERIFY2(outcome.detail.contains(detail), qPrintable(outcome.detail));
    QCOMPARE(outcome.detail.isEmpty(), detail.isEmpty());
}

void TestNtfsDrive::reasons_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("systemError");
    QTest::addColumn<QString>("says");

    using Kind = ImagingError::Kind;
    QTest::newRow("mounted elsewhere too") << int(Kind::Busy) << EBUSY << u"/dev/sdb1 正被其他程序使用"_s;
    QTest::newRow("not root") << int(Kind::AccessDenied) << EACCES << u"root"_s;
    QTest::newRow("wimlib without NTFS-3G") << int(Kind::Unsupported) << 0 << u"不支持 NTFS-3G"_s;
    QTest::newRow("a name the volume holds") << int(Kind::Other) << EEXIST << u"请先格式化目标分区"_s;
    QTest::newRow("anything else: the common cause") << int(Kind::NoSpace) << ENOSPC << u"磁盘空间不足"_s;
}

void TestNtfsDrive::reasons()
{
    QFETCH(int, kind);
    QFETCH(int, systemError);
    QFETCH(QString, says);
    const QString cause = NtfsCallCause({ImagingError::Kind(kind), systemError, u"library text"_s}, u"/dev/sdb1"_s);
    QVERIFY2(cause.contains(says), qPrintable(cause));
}

void TestNtfsDrive::mountBackNeedsTheHelper()
{
    // ntfs-3g's drives need mount's helper to come back; kernel drivers do not.
    QTemporaryDir sbin;
    const QString helpers = sbin.path();
    QVERIFY(!NtfsMountBackMissing(drive(), helpers).isEmpty());
    QVERIFY(NtfsMountBackMissing(drive(u"ntfs3"_s), helpers).isEmpty());
    QFile helper(helpers + u"/mount.ntfs-3g"_s);
    QVERIFY(helper.open(QIODevice::WriteOnly));
    helper.close();
    QVERIFY(!NtfsMountBackMissing(drive(), helpers).isEmpty());  // not executable
    QVERIFY(helper.setPermissions(helper.permissions() | QFile::ExeOwner));
    QVERIFY(NtfsMountBackMissing(drive(), helpers).isEmpty());
}

void TestNtfsDrive::loopDrivesKeepWhatWindowsNeeds()
{
    if (const QString unavailable = loopDrivesUnavailable(true); !unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    if (!testarchives::haveTool(u"wimlib-imagex"_s))
        QSKIP("wimlib-imagex (package wimtools) is needed to list what the images hold");
    LoopDrive original(m_dir->filePath(u"original"_s), 64, u"ntfs"_s);
    QVERIFY2(original.ok(), qPrintable(original.error()));
    const QString mp = original.mountPoint();

    // Prepared through ntfs-3g's Windows interfaces, as Windows would leave it.
    QCOMPARE(runTool(u"umount"_s, {mp}).exitCode, 0);
    const auto windowsMount = runTool(u"ntfs-3g"_s, {u"-o"_s, u"streams_interface=windows"_s, original.device(), mp});
    QVERIFY2(windowsMount.exitCode == 0, qPrintable(windowsMount.output));
    const QString file = mp + u"/Program Files/Long File Name.txt"_s;
    QVERIFY(QDir().mkpath(mp + u"/Program Files"_s));
    QVERIFY(QDir().mkpath(mp + u"/Documents and Settings"_s));
    QVERIFY(QDir().mkpath(mp + u"/Windows/Temp"_s));
    QVERIFY(writeFile(file, "hello from Windows\n"));
    QVERIFY(writeFile(file + u":Zone.Identifier"_s, "[ZoneTransfer]\r\nZoneId=3\r\n"));
    QVERIFY(writeFile(mp + u"/Windows/Temp/setup.log"_s, "left out\n"));
    QVERIFY(setAttribute(file, "system.ntfs_acl", kSecurityDescriptor));
    QVERIFY(setAttribute(file, "system.ntfs_dos_name", "LONGFI~1.TXT"));
    QByteArray attributes(4, 0);
    qToBigEndian<quint32>(0x23, attributes.data());  // read-only, hidden, archive
    QVERIFY(setAttribute(file, "system.ntfs_attrib_be", attributes));
    QVERIFY(setAttribute(mp + u"/Documents and Settings"_s, "system.ntfs_reparse_data", kJunction));
    QVERIFY(setAttribute(mp + u"/Windows"_s, "system.ntfs_object_id", QByteArray(16, '\x5a')));
    QCOMPARE(runTool(u"umount"_s, {mp}).exitCode, 0);
    QCOMPARE(runTool(u"mount"_s, {original.device(), mp}).exitCode, 0);

    const FormatCommandRunner run = [](const QString &line) { return RunCommandWithStatus(line); };
    // A folder below the drive root is no drive: it stays in the ordinary way.
    QCOMPARE(ProbeNtfsDrive(mp + u"/Program Files"_s, true, run).result, NtfsProbe::NotNtfs);
    const NtfsProbe source = ProbeNtfsDrive(mp, true, run);
    QCOMPARE(source.result, NtfsProbe::Ntfs);
    QCOMPARE(source.drive.device, original.device());

    WimlibBackend lib;
    const QString wim = m_dir->filePath(u"volume.wim"_s);
    WimHandle archive(lib,
                      lib.WIMCreateFile(wim, WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX, nullptr));
    QVERIFY(archive);
    bool wasReadOnly = false;
    NtfsDriveOutcome captured = CaptureFromNtfsDrive(
        source.drive, true, {wim},
        [&](const QString &device) {
            wasReadOnly = platform::mountAt(mp)->readOnly;
            return WimHandle(lib, lib.WIMCaptureImage(archive.get(), device, WIM_FLAG_NTFS_VOLUME)).close();
        },
        run);
    QVERIFY2(captured.callSucceeded, qPrintable(lib.LastErrorText()));
    QCOMPARE(captured.stage, NtfsDriveOutcome::Restored);
    QVERIFY(wasReadOnly);
    QVERIFY(!platform::mountAt(mp)->readOnly);

    // The original as captured holds what was prepared.
    const QMap<QString, QString> before = detailedListing(wim);
    const QString listed = before.values().join(QString());
    QVERIFY(listed.contains(u"Short Name          = \"LONGFI~1.TXT\""_s));
    QVERIFY(listed.contains(u"Attributes          = 0x00000023"_s));
    QVERIFY(listed.contains(u"Named data stream \"Zone.Identifier\":"_s));
    QVERIFY(listed.contains(u"Reparse Tag         = 0xa0000003"_s));
    QVERIFY(listed.contains(u"Object ID           = 0x5a5a5a5a"_s));
    QVERIFY(listed.contains(QString::fromLatin1(kSecurityDescriptor.toHex())));

    // Applied onto a second, freshly formatted drive, and captured again.
    LoopDrive copy(m_dir->filePath(u"copy"_s), 64, u"ntfs"_s);
    QVERIFY2(copy.ok(), qPrintable(copy.error()));
    const NtfsProbe target = ProbeNtfsDrive(copy.mountPoint(), true, run);
    QCOMPARE(target.result, NtfsProbe::Ntfs);
    WimHandle image(lib, lib.WIMLoadImage(archive.get(), 1));
    const NtfsDriveOutcome applied = ApplyOntoNtfsDrive(
        target.drive, true, {wim},
        [&](const QString &device) {
            return lib.WIMApplyImage(image.get(), device, WIM_FLAG_VERIFY | WIM_FLAG_INDEX | WIM_FLAG_NTFS_VOLUME);
        },
        run);
    image.close();
    QVERIFY2(applied.callSucceeded, qPrintable(lib.LastErrorText()));
    QCOMPARE(applied.stage, NtfsDriveOutcome::Restored);
    const auto back = platform::mountAt(copy.mountPoint());
    QVERIFY(back && back->source == copy.device());
    QFile readBack(copy.mountPoint() + u"/Program Files/Long File Name.txt"_s);
    QVERIFY(readBack.open(QIODevice::ReadOnly));
    QCOMPARE(readBack.readAll(), QByteArray("hello from Windows\n"));
    readBack.close();

    archive.close();

    // The result captured by pellwick-wim from the device, read-only meanwhile.
    const QString again = m_dir->filePath(u"again.wim"_s);
    captured = CaptureFromNtfsDrive(
        target.drive, true, {},
        [&](const QString &device) {
            return runTool(kTool, {u"capture"_s, device, again}).exitCode == 0;
        },
        run);
    QVERIFY(captured.callSucceeded);
    // pellwick-wim leaves out \windows\temp\ as the program does, matched against the volume-relative path.
    QMap<QString, QString> expected = before;
    QCOMPARE(expected.remove(u"\"/Windows/Temp/setup.log\""_s), 1);
    QCOMPARE(detailedListing(again), expected);

    // Refused: the archive on the drive; a mounted drive, whatever a caller forgets; not root.
    QCOMPARE(CaptureFromNtfsDrive(target.drive, true, {copy.mountPoint() + u"/x.wim"_s}, {}, run).stage,
             NtfsDriveOutcome::Refused);
    QCOMPARE(ApplyOntoNtfsDrive(target.drive, true, {copy.mountPoint() + u"/x.wim"_s}, {}, run).stage,
             NtfsDriveOutcome::Refused);
    WimHandle third(lib, lib.WIMCreateFile(m_dir->filePath(u"refused.wim"_s), WIM_GENERIC_READ_WRITE, WIM_CREATE_ALWAYS,
                                           0, WIM_COMPRESS_LZX, nullptr));
    QVERIFY(!lib.WIMCaptureImage(third.get(), copy.device(), WIM_FLAG_NTFS_VOLUME));
    QCOMPARE(lib.LastError().kind, ImagingError::Kind::Busy);
    third.close();
    auto r = runTool(kTool, {u"apply"_s, wim, u"1"_s, copy.device()});
    QVERIFY2(r.exitCode != 0 && r.output.contains(copy.device() + u" is mounted at "_s + copy.mountPoint()),
             qPrintable(r.output));
    if (!testarchives::haveTool(u"setpriv"_s))
        QSKIP("setpriv (util-linux) is needed to run pellwick-wim as the user 'nobody'");
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                     | QFile::ReadOther | QFile::ExeOther));
    QCOMPARE(runTool(u"umount"_s, {copy.mountPoint()}).exitCode, 0);
    r = runTool(u"setpriv"_s, {u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, kTool, u"apply"_s, wim,
                               u"1"_s, copy.device()});
    if (r.output.startsWith(u"setpriv: "_s))
        QSKIP("the user 'nobody' cannot run the pellwick-wim of this build folder");
    QVERIFY2(r.output.contains(u"cannot open %1: Permission denied"_s.arg(copy.device()))
                 && r.output.contains(u"needs root"_s),
             qPrintable(r.output));
}

QTEST_GUILESS_MAIN(TestNtfsDrive)
#include "tst_ntfs_drive.moc"
