#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the Windows drive-letter rules mean on this platform. On Linux a
// "drive" is a mounted block device, its root is the mount point (written
// without a trailing "/", except "/" itself), and the system drive is the
// filesystem mounted at "/".
namespace platform {

// Default working directory (the system temporary directory).
QString defaultWorkDirectory();

// Directory of the running executable, with a trailing separator.
QString executableDirectory();

// Root of the system drive ("/").
QString systemDriveRoot();

// The mount point that holds `path` (longest matching mount of its canonical path).
QString mountPointOf(const QString &path);

// True when `path` is the root of a drive: "/" or the mount point of a block device.
bool isDriveRoot(const QString &path);

// True when `path` is the root of the system drive.
bool isSystemDriveRoot(const QString &path);

// True when `a` and `b` lie on the same mounted filesystem.
bool sameDrive(const QString &a, const QString &b);

// The folder chooser's rule: one trailing separator is removed, except from
// the root itself.
QString withoutTrailingSeparator(const QString &path);

// A typed folder path in the form the folder chooser gives: doubled and
// trailing separators and "." parts removed ("/" stays "/", an emptied
// relative path is "."). ".." parts stay: through a link they may lead
// elsewhere than the text suggests. The capture's matcher needs this form.
QString normalizedFolderPath(const QString &path);

// `path` relative to the root of its drive, with "\" separators: "\" for the
// root itself, "\data\logs" for /mnt/d/data/logs when /mnt/d is a mount point.
QString driveRelativePath(const QString &path);

// The device mounted at a mount point ("" when it is not one).
QString deviceOfMountPoint(const QString &mountPoint);

// One mount as the mount table has it.
struct MountEntry {
    QString point;   // the mount point, canonical
    QString source;  // the device ("/dev/sdb1"), or what a virtual filesystem names there
    QString type;    // "ext4", "ntfs3"; ntfs-3g and other FUSE block filesystems show as "fuseblk"
    bool readOnly = false;
    QStringList flags;  // of nosuid, nodev, noexec, noatime, nodiratime: those it is mounted with
};

// The filesystem mounted at `mountPoint` (the one on top); nullopt when
// nothing is mounted exactly there.
std::optional<MountEntry> mountAt(const QString &mountPoint);

// Folder for the exclusion list files: `appDir` when it already holds them
// (a portable copy) or lies in the build tree, is writable and is no system
// folder; otherwise the per-user configuration folder. Always ends with a
// separator.
QString exclusionListDirectory(const QString &appDir);

// True for the folders the system's packages own (/usr, /bin, /etc, ...),
// where the program never writes a file of its own.
bool isSystemFolder(const QString &dir);

// `child` of `dir` matched in any letter case ("" when there is none).
QString childIgnoringCase(const QString &dir, const QString &child, bool wantDirectory);

// Path of the SOFTWARE registry hive of a Windows installation under
// `capturePath` (Windows/System32/config/SOFTWARE, each name in any letter
// case), or "" when the installation has no such file.
QString softwareHivePath(const QString &capturePath);

// True when `capturePath` holds a folder named Windows in any letter case.
bool hasWindowsFolder(const QString &capturePath);

// Shell commands that format the drive mounted at `mountPoint` with NTFS and
// the label `label`, and mount it back at the same place: unmount, mkntfs,
// mount; every argument quoted. Empty when no block device is mounted there.
QStringList formatCommands(const QString &mountPoint, const QString &label);

}  // namespace platform
