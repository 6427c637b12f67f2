#include "imaging/wimlib_ntfs.h"

#include "imaging/wimlib_archive.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <mntent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wimlibntfs {

namespace {

using Kind = ImagingError::Kind;

ImagingError error(Kind kind, int systemError, const QString &text)
{
    return {kind, systemError, text};
}

QString systemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The kind of a system error number, for the failures this mode meets.
Kind kindOf(int code)
{
    switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return Kind::NotFound;
    case EACCES:
    case EPERM: return Kind::AccessDenied;
    case EBUSY: return Kind::Busy;
    case EROFS: return Kind::ReadOnlyFileSystem;
    case ENOSPC: return Kind::NoSpace;
    default: return Kind::Other;
    }
}

ImagingError openFailure(const QString &path, int code)
{
    QString text = QStringLiteral("cannot open %1: %2").arg(path, systemText(code));
    if (code == EACCES || code == EPERM)
        text += QStringLiteral(" (NTFS-3G mode reads and writes the device itself, which needs root)");
    return error(kindOf(code), code, text);
}

struct DeviceMount {
    QString point;
    bool readOnly = false;
};

// Every mount of the block device `device`, whatever name it was mounted by
// (ntfs-3g's fuseblk mounts name the device too).
QList<DeviceMount> mountsOf(dev_t device)
{
    QList<DeviceMount> found;
    FILE *table = ::setmntent("/proc/self/mounts", "r");
    if (!table)
        return found;
    struct mntent entry;
    char buffer[4096];
    while (::getmntent_r(table, &entry, buffer, sizeof buffer)) {
        struct stat source;
        if (entry.mnt_fsname[0] == '/' && ::stat(entry.mnt_fsname, &source) == 0 && S_ISBLK(source.st_mode)
            && source.st_rdev == device)
            found.append({QFile::decodeName(entry.mnt_dir), ::hasmntopt(&entry, "ro") != nullptr});
    }
    ::endmntent(table);
    return found;
}

// An NTFS boot sector names its file system at byte 3.
ImagingError checkNtfs(int fd, const QString &path)
{
    char sector[512];
    const ssize_t n = ::pread(fd, sector, sizeof sector, 0);
    if (n < 0) {
        const int code = errno;
        return error(kindOf(code), code, QStringLiteral("cannot read %1: %2").arg(path, systemText(code)));
    }
    if (n < 11 || std::memcmp(sector + 3, "NTFS    ", 8) != 0)
        return error(Kind::Other, 0, QStringLiteral("%1 holds no NTFS file system").arg(path));
    return {};
}

// What both directions check before the device is opened.
ImagingError checkPath(const QString &path, struct stat *st)
{
    if (path.isEmpty())
        return error(Kind::NotFound, 0, QStringLiteral("no volume given"));
    if (::stat(QFile::encodeName(path).constData(), st) != 0) {
        const int code = errno;
        return error(kindOf(code), code, QStringLiteral("%1: %2").arg(path, systemText(code)));
    }
    if (!S_ISBLK(st->st_mode) && !S_ISREG(st->st_mode))
        return error(Kind::Other, 0, QStringLiteral("%1 is neither a block device nor a volume image").arg(path));
    return {};
}

}  // namespace

VolumeClaim::~VolumeClaim()
{
    reset();
}

void VolumeClaim::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

ImagingError checkCaptureSource(const QString &path)
{
    struct stat st;
    if (ImagingError e = checkPath(path, &st); e.kind != Kind::None)
        return e;
    if (S_ISBLK(st.st_mode)) {
        for (const DeviceMount &m : mountsOf(st.st_rdev)) {
            if (!m.readOnly) {
                return error(Kind::Busy, EBUSY,
                             QStringLiteral("%1 is mounted read-write at %2: unmount it or remount it read-only first")
                                 .arg(path, m.point));
            }
        }
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return openFailure(path, errno);
    const ImagingError e = checkNtfs(fd, path);
    ::close(fd);
    return e;
}

ImagingError claimApplyTarget(const QString &path, VolumeClaim *claim)
{
    claim->reset();
    struct stat st;
    if (ImagingError e = checkPath(path, &st); e.kind != Kind::None)
        return e;
    const bool device = S_ISBLK(st.st_mode);
    if (device) {
        if (const QList<DeviceMount> mounts = mountsOf(st.st_rdev); !mounts.isEmpty())
            return error(Kind::Busy, EBUSY,
                         QStringLiteral("%1 is mounted at %2: unmount it first").arg(path, mounts.first().point));
    }
    // O_EXCL on a block device fails with EBUSY while anything holds it:
    // a kernel mount, ntfs-3g, a device mapper or RAID member.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | (device ? O_EXCL : 0));
    if (fd < 0) {
        const int code = errno;
        if (code == EBUSY)
            return error(Kind::Busy, code,
                         QStringLiteral("%1 is in use (mounted, or part of another device)").arg(path));
        return openFailure(path, code);
    }
    const ImagingError e = checkNtfs(fd, path);
    if (e.kind != Kind::None || !device)
        ::close(fd);
    else
        claim->reset(fd);
    return e;
}

ImagingError failure(const QString &what, int wimlibCode, int savedErrno, const QString &printed)
{
    if (wimlibCode == WIMLIB_ERR_UNSUPPORTED) {
        return error(
            Kind::Unsupported, 0,
            wimlibErrorText(what + QStringLiteral(": this wimlib was built without NTFS-3G support"), wimlibCode));
    }
    if (wimlibCode != WIMLIB_ERR_NTFS_3G)
        return error(Kind::Other, 0, wimlibErrorText(what, wimlibCode));
    // wimlib's message ends with strerror() of the cause, and names the file.
    QString cause = printed;
    for (const int code : {EEXIST, ENOSPC, EACCES, EPERM, EBUSY, EROFS, ENOENT, EIO, EINVAL}) {
        if (savedErrno == 0 && !printed.isEmpty() && printed.endsWith(systemText(code)))
            savedErrno = code;
    }
    if (cause.isEmpty() && savedErrno != 0)
        cause = systemText(savedErrno);
    if (cause.isEmpty())
        return error(Kind::Other, 0, wimlibErrorText(what, wimlibCode));
    if (savedErrno == EEXIST)
        cause += QStringLiteral(" (NTFS-3G mode adds the image to the volume and replaces nothing on it: "
                                "format the volume first)");
    return error(kindOf(savedErrno), savedErrno,
                 wimlibErrorText(QStringLiteral("%1: %2").arg(what, cause), wimlibCode));
}

}  // namespace wimlibntfs
