// The backend's mounts: an image served as a folder through wimlib's FUSE file system.
#include "imaging/mount_records.h"
#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_errors.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_work_lock.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using Kind = ImagingError::Kind;

namespace {

QString callText(const char *call, const QString &what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call), what);
}

// Why this process cannot mount, before anything is touched; "" when it can.
QString whyNoFuse(Kind *kind, int *systemError)
{
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *systemError = errno;
        *kind = errno == ENOENT || errno == ENODEV || errno == ENXIO ? Kind::Unsupported : Kind::AccessDenied;
        return *kind == Kind::Unsupported
                   ? QStringLiteral("/dev/fuse is missing: this system offers no FUSE file systems (modprobe fuse)")
                   : QStringLiteral("no permission to use /dev/fuse (%1): mounting needs root or the FUSE "
                                    "permission")
                         .arg(QString::fromLocal8Bit(std::strerror(*systemError)));
    }
    ::close(fd);
    if (::geteuid() != 0 && QStandardPaths::findExecutable(QStringLiteral("fusermount")).isEmpty()) {
        *kind = Kind::AccessDenied;
        *systemError = EPERM;
        return QStringLiteral("mounting needs root, or fusermount (package fuse) for other users");
    }
    return {};
}

// Why `directory` cannot take a mount; "" when it is an empty folder that is no mount point.
QString whyNotAMountFolder(const QString &directory, Kind *kind, int *systemError)
{
    const QByteArray native = QFile::encodeName(directory);
    struct stat self, parent;
    if (::stat(native.constData(), &self) != 0) {
        *systemError = errno;
        *kind = errno == ENOENT ? Kind::NotFound : errno == ENOTCONN ? Kind::Busy : Kind::Other;
        return errno == ENOTCONN
                   ? QStringLiteral("%1 is a dead mount (Transport endpoint is not connected): "
                                    "fusermount -u it first")
                         .arg(directory)
                   : QStringLiteral("%1: %2").arg(directory, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!S_ISDIR(self.st_mode)) {
        *kind = Kind::Other;
        *systemError = ENOTDIR;
        return QStringLiteral("%1 is not a folder").arg(directory);
    }
    if (::stat(QFile::encodeName(directory + QStringLiteral("/..")).constData(), &parent) == 0
        && (parent.st_dev != self.st_dev || parent.st_ino == self.st_ino)) {
        *kind = Kind::Busy;
        *systemError = EBUSY;
        return QStringLiteral("%1 is a mount point already").arg(directory);
    }
    if (!QDir(directory).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        *kind = Kind::Other;
        *systemError = ENOTEMPTY;
        return QStringLiteral("%1 is not empty").arg(directory);
    }
    return {};
}

// What the changed files of a mount take in its staging folder.
qint64 stagedBytes(const QString &staging)
{
    qint64 total = 0;
    for (QDirIterator it(staging, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// -1 when unknown.
qint64 freeBytes(const QString &folder)
{
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return -1;
    return qint64(fs.f_bavail) * qint64(fs.f_frsize);
}

}  // namespace

bool WimlibBackend::WIMMountImage(HWIM image, const QString &directory, uint32_t mountFlags, const QString &stagingPath)
{
    static const char call[] = "WIMMountImage";
    const auto handle = imageOf(image, call);
    if (!handle)
        return false;
    WimlibArchive &archive = *handle->archive;
    const bool readWrite = mountFlags & WIM_MOUNT_FLAG_READWRITE;
    Kind kind = Kind::Other;
    int systemError = 0;
    if (QString why = whyNoFuse(&kind, &systemError); !why.isEmpty())
        return failWith(kind, systemError, callText(call, why));
    // The serving process leaves for "/": every path is made absolute first.
    const QString target = QFileInfo(directory).absoluteFilePath();
    if (QString why = whyNotAMountFolder(target, &kind, &systemError); !why.isEmpty())
        return failWith(kind, systemError, callText(call, why));
    if (readWrite && !archive.mayWrite())
        return failWith(Kind::ArchiveReadOnly, 0,
                        callText(call, QStringLiteral("the archive is open without write access")));
    QString staging;
    if (readWrite && !stagingPath.isEmpty()) {
        staging = QFileInfo(stagingPath).absoluteFilePath();
        if (!QFileInfo(staging).isDir())
            return failWith(Kind::NotFound, ENOENT,
                            callText(call, QStringLiteral("the staging folder %1 does not exist").arg(staging)));
    }
    const QByteArray nativeTarget = QFile::encodeName(target);
    const QByteArray nativeStaging = QFile::encodeName(staging);
    const auto mount = [&](WIMStruct *wim) {
        const int code = wimlib_mount_image(wim, int(handle->image), nativeTarget.constData(),
                                            readWrite ? WIMLIB_MOUNT_FLAG_READWRITE : 0,
                                            staging.isEmpty() ? nullptr : nativeStaging.constData());
        const int error = errno;
        if (code == 0)
            return true;
        return failWith(wimlibErrorKind(code, error), wimlibSystemError(code, error),
                        callText(call, QStringLiteral("%1 on %2: %3")
                                           .arg(archive.path(), target,
                                                QString::fromUtf8(wimlib_get_error_string(wimlib_error_code(code))))));
    };
    WorkLock lock(archive);
    if (!readyForCall(archive, lock, call, readWrite ? ArchiveUse::Change : ArchiveUse::Read))
        return false;
    if (readWrite)
        return mount(archive.wim());  // the lock's descriptor goes with the serving process
    lock.fileLockOf(archive).release();
    return mount(archive.wim());
}

bool WimlibBackend::WIMUnmountImage(const QString &directory, uint32_t unmountFlags)
{
    static const char call[] = "WIMUnmountImage";
    const QString target = QFileInfo(directory).absoluteFilePath();
    WimlibProgress progress(m_callbacks.current(), target);
    const int flags = (unmountFlags & WIM_UNMOUNT_FLAG_COMMIT) ? WIMLIB_UNMOUNT_FLAG_COMMIT : 0;
    // The serving process commits without syncing and removes the record as it ends: it is read first.
    MountRecord mounted;
    for (const MountRecord &record : mountRecords()) {
        if (record.directory == target)
            mounted = record;
    }
    const QString archive = (flags & WIMLIB_UNMOUNT_FLAG_COMMIT) ? mounted.archive : QString();
    const int code = wimlib_unmount_image_with_progress(QFile::encodeName(target).constData(), flags,
                                                        &WimlibProgress::forward, &progress);
    const int error = errno;
    if (code == 0) {
        // Nothing in it can be committed any more; the serving process
        // removes it too, unless it is killed before it gets there.
        removeStagingFolder(mounted.staging);
        // Synced before it is reported done, as every other commit.
        if (!archive.isEmpty()) {
            const int fd = ::open(QFile::encodeName(archive).constData(), O_RDONLY | O_CLOEXEC);
            const bool synced = fd >= 0 && ::fsync(fd) == 0;
            const int syncError = errno;
            if (fd >= 0)
                ::close(fd);
            if (!synced)
                return failWith(wimlibErrorKind(WIMLIB_ERR_WRITE, syncError), syncError,
                                callText(call, QStringLiteral("the commit into %1 could not be synced to disk: %2")
                                                   .arg(archive, QString::fromLocal8Bit(std::strerror(syncError)))));
        }
        progress.finish();
        return true;
    }
    if (mountState(target) == MountState::Dead) {
        // Killed meanwhile, at the latest during the commit, which writes the
        // archive's new header last.
        const bool cleared = clearDeadMount(target);
        return failWith(Kind::Other, wimlibSystemError(code, error),
                        callText(call, QStringLiteral("the process serving %1 ended before the unmount was done; %2; "
                                                      "the archive holds the image as it was before the mount, or "
                                                      "as committed if the commit had ended")
                                           .arg(target, cleared ? QStringLiteral("its dead mount was cleared")
                                                                : QStringLiteral("its dead mount could not be "
                                                                                 "cleared (fusermount -u it)"))));
    }
    if (!mounted.staging.isEmpty() && mountState(target) == MountState::Gone)
        removeStagingFolder(mounted.staging);  // ended anyway: nothing left to retry with
    Kind kind = wimlibErrorKind(code, error);
    int systemError = wimlibSystemError(code, error);
    if (code == WIMLIB_ERR_NOT_A_MOUNTPOINT)
        kind = Kind::NotFound;
    else if (code == WIMLIB_ERR_NOT_PERMITTED_TO_UNMOUNT)
        kind = Kind::AccessDenied;
    QString what =
        code == WIMLIB_ERR_MOUNTED_IMAGE_IS_BUSY
            ? QStringLiteral("files in %1 are still open; it stays mounted").arg(target)
            : QStringLiteral("%1: %2").arg(target, QString::fromUtf8(wimlib_get_error_string(wimlib_error_code(code))));
    // The serving process's errno does not come back with its answer: a
    // write that failed where the changes cannot fit is taken for a full disk.
    if (code == WIMLIB_ERR_WRITE && !archive.isEmpty() && !mounted.staging.isEmpty()) {
        const qint64 staged = stagedBytes(mounted.staging);
        const qint64 free = freeBytes(QFileInfo(archive).path());
        if (free >= 0 && staged > free) {
            kind = Kind::NoSpace;
            systemError = ENOSPC;
            what += QStringLiteral(" (%1: %2 bytes of changes, %3 bytes free)")
                        .arg(QString::fromLocal8Bit(std::strerror(ENOSPC)))
                        .arg(staged)
                        .arg(free);
        }
    }
    return failWith(kind, systemError, callText(call, what));
}
