#include "operations/ntfs_drive.h"

#include "operations/drive_guardian.h"
#include "support/error_cause.h"
#include "support/shell_quote.h"

#include <QFileInfo>

#include <cerrno>

namespace {

bool succeeded(const CommandResult &result)
{
    return result.started && result.exitCode == 0;
}

QString failedCommand(const QString &commandLine, const CommandResult &result)
{
    if (!result.started)
        return QStringLiteral("无法运行命令：%1").arg(commandLine);
    QString text = QStringLiteral("命令失败（退出码 %1）：%2").arg(result.exitCode).arg(commandLine);
    if (const QString tail = OutputTail(result.output); !tail.isEmpty())
        text += QLatin1Char('\n') + tail;
    return text;
}

QString unmountCommand(const NtfsDrive &drive)
{
    return QStringLiteral("umount ") + shellQuote(drive.mountPoint);
}

// Back with the driver it had: ntfs-3g is what shows as fuseblk.
QString mountBackCommand(const NtfsDrive &drive)
{
    // Only NTFS drives come here: the type is one of ntfs-3g, ntfs3, ntfs.
    const QString type = drive.mountType == QLatin1String("fuseblk") ? QStringLiteral("ntfs-3g") : drive.mountType;
    const QStringList options = (drive.readOnly ? QStringList{QStringLiteral("ro")} : QStringList()) + drive.flags;
    return QStringLiteral("mount -t ") + type
           + (options.isEmpty() ? QStringLiteral(" ")
                                : QStringLiteral(" -o ") + options.join(QLatin1Char(',')) + QLatin1Char(' '))
           + shellQuote(drive.device) + QLatin1Char(' ') + shellQuote(drive.mountPoint);
}

QString remountCommand(const NtfsDrive &drive, bool readOnly)
{
    return QStringLiteral("mount -o ") + (readOnly ? QStringLiteral("remount,ro ") : QStringLiteral("remount,rw "))
           + shellQuote(drive.mountPoint);
}

NtfsDriveOutcome refused(const QString &detail)
{
    NtfsDriveOutcome outcome;
    outcome.detail = detail;
    return outcome;
}

NtfsDriveOutcome notReleased(const QString &detail)
{
    NtfsDriveOutcome outcome = refused(detail);
    outcome.stage = NtfsDriveOutcome::NotReleased;
    return outcome;
}

const QString &rootNeeded()
{
    static const QString text = QStringLiteral("直接读写 NTFS 分区需要 root 权限。");
    return text;
}

// The first of `paths` that lies on the drive, or "".
QString onDrive(const NtfsDrive &drive, const QStringList &paths)
{
    for (const QString &path : paths) {
        if (!path.isEmpty() && platform::mountPointOf(path) == drive.mountPoint)
            return path;
    }
    return {};
}

// Unmounts the drive; the outcome says why not when it cannot.
std::optional<NtfsDriveOutcome> unmount(const NtfsDrive &drive, const FormatCommandRunner &run)
{
    const QString command = unmountCommand(drive);
    const CommandResult result = run(command);
    if (succeeded(result))
        return std::nullopt;
    NtfsDriveOutcome outcome;
    outcome.stage = NtfsDriveOutcome::NotReleased;
    outcome.detail = result.output.contains(QLatin1String("busy"))
                         ? QStringLiteral("%1 正在被其他程序使用，无法卸载。\n").arg(drive.mountPoint)
                         : QString();
    outcome.detail += failedCommand(command, result);
    return outcome;
}

// The outcome once the call has run and the drive should be given back with `restore`.
NtfsDriveOutcome restoreAfter(const NtfsDrive &drive, bool called, bool remounting, const FormatCommandRunner &run)
{
    NtfsDriveOutcome outcome;
    outcome.callSucceeded = called;
    const QString restore = remounting ? remountCommand(drive, false) : mountBackCommand(drive);
    const CommandResult result = run(restore);
    if (succeeded(result)) {
        outcome.stage = NtfsDriveOutcome::Restored;
        return outcome;
    }
    outcome.stage = NtfsDriveOutcome::NotRestored;
    outcome.detail = remounting ? QStringLiteral("%1 仍是只读的。\n").arg(drive.mountPoint)
                                : QStringLiteral("%1 已卸载，未能重新挂载。\n").arg(drive.mountPoint);
    outcome.detail += failedCommand(restore, result);
    return outcome;
}

}  // namespace

NtfsProbe ProbeNtfsMount(const std::optional<platform::MountEntry> &mount, bool privileged,
                         const FormatCommandRunner &run)
{
    NtfsProbe probe;
    if (!mount || !mount->source.startsWith(QLatin1String("/dev/")))
        return probe;
    const QString &type = mount->type;
    const bool kernelNtfs = type == QLatin1String("ntfs3") || type == QLatin1String("ntfs");
    if (!kernelNtfs) {
        if (type != QLatin1String("fuseblk"))
            return probe;
        if (!privileged) {
            probe.result = NtfsProbe::Unknown;
            probe.detail = QStringLiteral("识别 %1 的文件系统需要 root 权限。").arg(mount->point);
            return probe;
        }
        const QString command = QStringLiteral("blkid -p -o value -s TYPE ") + shellQuote(mount->source);
        const CommandResult result = run(command);
        // blkid exits with 2 when it finds no filesystem it knows.
        if (!result.started || (result.exitCode != 0 && result.exitCode != 2)) {
            probe.result = NtfsProbe::Unknown;
            probe.detail = failedCommand(command, result);
            return probe;
        }
        if (result.output.trimmed() != QLatin1String("ntfs"))
            return probe;
    }
    probe.result = NtfsProbe::Ntfs;
    probe.drive = {mount->point, mount->source, type, mount->readOnly, mount->flags};
    return probe;
}

NtfsProbe ProbeNtfsDrive(const QString &mountPoint, bool privileged, const FormatCommandRunner &run)
{
    return ProbeNtfsMount(platform::mountAt(mountPoint), privileged, run);
}

NtfsDriveOutcome ApplyOntoNtfsDrive(const NtfsDrive &drive, bool privileged, const QStringList &mustStayMounted,
                                    const NtfsVolumeCall &apply, const FormatCommandRunner &run)
{
    if (!privileged)
        return refused(rootNeeded());
    if (const QString path = onDrive(drive, mustStayMounted); !path.isEmpty())
        return refused(QStringLiteral("%1 位于目标分区上，而释放期间该分区需要卸载。").arg(path));
    const DriveGuardian guardian(DriveGuardian::Taken::Unmounted, drive.device, drive.mountPoint,
                                 NtfsMountBackAfterWriteCommand(drive));
    if (!guardian.error().isEmpty())
        return notReleased(guardian.error());
    if (auto failed = unmount(drive, run))
        return *failed;
    const bool applied = apply(drive.device);
    return restoreAfter(drive, applied, false, run);
}

NtfsDriveOutcome CaptureFromNtfsDrive(const NtfsDrive &drive, bool privileged, const QStringList &mustStayWritable,
                                      const NtfsVolumeCall &capture, const FormatCommandRunner &run)
{
    if (!privileged)
        return refused(rootNeeded());
    if (platform::isSystemDriveRoot(drive.mountPoint))
        return refused(QStringLiteral("系统盘在运行中无法设为只读，不能直接捕获。"));
    if (const QString path = onDrive(drive, mustStayWritable); !path.isEmpty())
        return refused(QStringLiteral("%1 位于要捕获的分区上，而捕获期间该分区不可写入。").arg(path));

    if (drive.readOnly) {
        NtfsDriveOutcome outcome;
        outcome.stage = NtfsDriveOutcome::Restored;
        outcome.callSucceeded = capture(drive.device);
        return outcome;
    }
    {
        const DriveGuardian guardian(DriveGuardian::Taken::ReadOnly, drive.device, drive.mountPoint,
                                     remountCommand(drive, false));
        if (!guardian.error().isEmpty())
            return notReleased(guardian.error());
        if (succeeded(run(remountCommand(drive, true)))) {
            const bool captured = capture(drive.device);
            return restoreAfter(drive, captured, true, run);
        }
    }
    const DriveGuardian guardian(DriveGuardian::Taken::Unmounted, drive.device, drive.mountPoint,
                                 mountBackCommand(drive));
    if (!guardian.error().isEmpty())
        return notReleased(guardian.error());
    if (auto failed = unmount(drive, run))
        return *failed;
    const bool captured = capture(drive.device);
    return restoreAfter(drive, captured, false, run);
}

QString NtfsMountBackAfterWriteCommand(const NtfsDrive &drive)
{
    const QString mount = mountBackCommand(drive);
    return mount + QStringLiteral(" || { ntfsfix -d ") + shellQuote(drive.device) + QStringLiteral(" && ") + mount
           + QStringLiteral("; }");
}

QString NtfsMountBackMissing(const NtfsDrive &drive, const QString &helperDir)
{
    if (drive.mountType != QLatin1String("fuseblk"))
        return {};
    if (QFileInfo(helperDir + QStringLiteral("/mount.ntfs-3g")).isExecutable())
        return {};
    return QStringLiteral("未安装 ntfs-3g（找不到 %1/mount.ntfs-3g），%2 卸载后将无法重新挂载。请先安装 ntfs-3g。")
        .arg(helperDir, drive.mountPoint);
}

QString NtfsCallCause(const ImagingError &error, const QString &device)
{
    using Kind = ImagingError::Kind;
    switch (error.kind) {
    case Kind::Busy: return QStringLiteral("%1 正被其他程序使用，或在别处另有挂载，无法直接读写。").arg(device);
    case Kind::AccessDenied: return rootNeeded();
    case Kind::Unsupported:
        return QStringLiteral("此系统的 wimlib 不支持 NTFS-3G 模式，请安装带 NTFS-3G 支持的 wimlib（libwim15）。");
    default: break;
    }
    if (error.systemError == EEXIST)
        return QStringLiteral(
            "分区上已有同名的文件：直接释放到 NTFS 分区时只添加文件，不覆盖原有文件。请先格式化目标分区。");
    return errorCause(error);
}
