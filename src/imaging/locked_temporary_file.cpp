#include "imaging/locked_temporary_file.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMarker[] = ".pellwick-";
constexpr int kRandomLength = 13;  // a 64-bit number in base 36

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

bool sameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool LockedTemporaryFile::isOurs(const char *name)
{
    if (name[0] != '.')
        return false;
    const char *marker = std::strstr(name + 1, kMarker);
    if (!marker || marker == name + 1)
        return false;
    // The last marker counts: the target's own name may hold one.
    for (const char *next; (next = std::strstr(marker + 1, kMarker));)
        marker = next;
    const char *random = marker + sizeof kMarker - 1;
    int length = 0;
    for (const char *c = random; *c; ++c, ++length) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z')))
            return false;
    }
    return length == kRandomLength;
}

void LockedTemporaryFile::syncFolder(const QByteArray &path)
{
    const int fd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void LockedTemporaryFile::removeAbandoned(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent *entry = ::readdir(dir)) {
        if ((entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) || !isOurs(entry->d_name))
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A writer holds the lock as long as it lives; while we hold it, no
        // writer can take the name over (see create()).
        struct stat opened, named;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)
            && ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(opened, named))
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

bool LockedTemporaryFile::create(const QByteArray &target)
{
    close();
    const QByteArray folder = folderOf(target);
    removeAbandoned(folder);
    const QByteArray base =
        folder + (folder.endsWith('/') ? "." : "/.") + target.mid(target.lastIndexOf('/') + 1) + kMarker;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray path =
            base + QByteArray::number(QRandomGenerator::global()->generate64(), 36).rightJustified(kRandomLength, '0');
        // The mode passes through the umask, as for any new file.
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // Between open() and flock() a cleaner may take the unlocked file for
        // an abandoned one and remove it; it does so holding the lock, so once
        // we hold it the name is ours if it still names our file.
        struct stat opened, named;
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &opened) != 0) {
            const int saved = errno;
            ::close(fd);
            ::unlink(path.constData());
            errno = saved;
            return false;
        }
        if (::stat(path.constData(), &named) != 0 || !sameInode(opened, named)) {
            ::close(fd);
            continue;
        }
        m_path = path;
        m_fd = fd;
        return true;
    }
    errno = EEXIST;
    return false;
}

void LockedTemporaryFile::renamed()
{
    m_path.clear();
    close();
}

void LockedTemporaryFile::close()
{
    if (m_fd < 0)
        return;
    const int saved = errno;
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());  // still locked: no cleaner can race us
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    errno = saved;
}

LockedTemporaryFile::~LockedTemporaryFile()
{
    close();
}
