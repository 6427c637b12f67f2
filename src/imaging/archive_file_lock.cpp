#include "imaging/archive_file_lock.h"

#include "imaging/wimlib_errors.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool lockWholeFile(int fd, ArchiveFileLock::Mode mode)
{
    struct flock range {};
    range.l_type = mode == ArchiveFileLock::Mode::Exclusive ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;  // to the end, however far the file grows
    return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

// A file system that keeps no record locks (some network and FUSE ones).
bool noLocksHere(int error)
{
    return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

}  // namespace

bool ArchiveFileLock::take(const QByteArray &native, Mode mode, bool writable, ImagingError *error)
{
    const auto inUse = [&] {
        *error = {ImagingError::Kind::InUseElsewhere, EAGAIN,
                  QStringLiteral("%1 is in use by another program (another process holds its lock); try again later")
                      .arg(QFile::decodeName(native))};
        return false;
    };
    if (m_fd >= 0) {
        if (m_mode == mode || mode == Mode::Shared)
            return true;
        if (lockWholeFile(m_fd, mode))
            m_mode = mode;
        else if (errno != EBADF)  // EBADF: opened read-only; the shared lock keeps writers out
            return inUse();
        return true;
    }
    // Each round loses only to a rename between our open and our lock.
    for (int round = 0; round < 16; ++round) {
        const int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        Mode taken = mode;
        int fd = ::open(native.constData(), (writable ? O_RDWR : O_RDONLY) | flags);
        if (fd < 0 && writable && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            // A file we may replace but not write (a new archive over a
            // read-only one): a shared lock still keeps every writer out.
            fd = ::open(native.constData(), O_RDONLY | flags);
            taken = Mode::Shared;
        }
        if (fd < 0) {
            if (errno == ENOENT)
                return true;
            const int systemError = errno;
            *error = {systemErrorKind(systemError), systemError,
                      QStringLiteral("cannot lock %1: cannot open it").arg(QFile::decodeName(native))};
            return false;
        }
        if (!lockWholeFile(fd, taken)) {
            const int systemError = errno;
            ::close(fd);
            if (systemError == EAGAIN || systemError == EACCES)
                return inUse();
            // Nothing to take there: the identity checks still guard the archive.
            if (noLocksHere(systemError))
                return true;
            *error = {systemErrorKind(systemError), systemError,
                      QStringLiteral("cannot lock %1").arg(QFile::decodeName(native))};
            return false;
        }
        struct stat locked, named;
        if (::fstat(fd, &locked) == 0 && ::stat(native.constData(), &named) == 0 && locked.st_dev == named.st_dev
            && locked.st_ino == named.st_ino) {
            m_fd = fd;
            m_mode = taken;
            return true;
        }
        ::close(fd);
    }
    return inUse();
}

void ArchiveFileLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
