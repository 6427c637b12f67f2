#include "imaging/staged_extraction.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names in a folder, without "." and "..". False and errno on failure.
bool namesIn(const QByteArray &folder, std::vector<QByteArray> *names)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return false;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names->emplace_back(entry->d_name);
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

constexpr char kPrefix[] = ".pellwick-extract-";
constexpr int kRandomLength = 6;  // mkdtemp's XXXXXX

bool sameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes everything inside the folder open at `folderFd`, by descriptor, so
// that no path length limits how deep it goes and no link is followed.
void emptyFolder(int folderFd)
{
    const int listFd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    for (const QByteArray &name : names) {
        struct stat st;
        if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                emptyFolder(child);
                ::close(child);
            }
            ::unlinkat(folderFd, name.constData(), AT_REMOVEDIR);
        } else {
            ::unlinkat(folderFd, name.constData(), 0);
        }
    }
}

// Removes the folder `name` of `parentFd` and what it holds, when `lockedFd`
// (the folder, open and locked) is still what the name names.
void removeLocked(int parentFd, const char *name, int lockedFd)
{
    struct stat opened, named;
    if (::fstat(lockedFd, &opened) != 0 || ::fstatat(parentFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0
        || !sameInode(opened, named))
        return;
    emptyFolder(lockedFd);
    ::unlinkat(parentFd, name, AT_REMOVEDIR);
}

// Makes `into` (a folder of the new result) hold what the existing folder
// `from` holds and it does not, without touching `from`: folders made anew
// with their mode, owner and times, everything else hard-linked. False (and
// errno) when that cannot be done here: no hard links on this file system,
// a link refused, a folder that is another file system's mount point.
bool completeFrom(const QByteArray &from, const QByteArray &into)
{
    struct stat fromStat;
    std::vector<QByteArray> names;
    if (::lstat(from.constData(), &fromStat) != 0 || !namesIn(from, &names))
        return false;
    for (const QByteArray &name : names) {
        const QByteArray source = from + '/' + name;
        const QByteArray target = into + '/' + name;
        struct stat st, present;
        if (::lstat(source.constData(), &st) != 0)
            return false;
        const bool there = ::lstat(target.constData(), &present) == 0;
        if (!S_ISDIR(st.st_mode)) {
            if (!there && ::link(source.constData(), target.constData()) != 0)
                return false;
            continue;
        }
        if (st.st_dev != fromStat.st_dev) {
            errno = EXDEV;
            return false;
        }
        if (!there && ::mkdir(target.constData(), 0700) != 0)
            return false;
        if (!completeFrom(source, target))
            return false;
        // The folder as the user had it: the new result changes its content, not its mode or owner.
        if (::lchown(target.constData(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
            return false;
        if (::chmod(target.constData(), st.st_mode & 07777) != 0)
            return false;
        if (!there) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, target.constData(), times, AT_SYMLINK_NOFOLLOW);
        }
    }
    return true;
}

enum class Kind { Missing, Folder, Other, Unknown };

Kind kindOf(const QByteArray &path, struct stat *st)
{
    if (::lstat(path.constData(), st) != 0)
        return errno == ENOENT ? Kind::Missing : Kind::Unknown;
    return S_ISDIR(st->st_mode) ? Kind::Folder : Kind::Other;
}

}  // namespace

bool StagedExtraction::isOurs(const char *name)
{
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0)
        return false;
    const char *random = name + sizeof kPrefix - 1;
    int length = 0;
    for (const char *c = random; *c; ++c, ++length) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z')))
            return false;
    }
    return length == kRandomLength;
}

void StagedExtraction::removeAbandoned(const QString &destination)
{
    const int folderFd = ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    std::vector<QByteArray> names;
    const int listFd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        while (const dirent *entry = ::readdir(dir)) {
            if ((entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN) && isOurs(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    for (const QByteArray &name : names) {
        const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A live extraction holds the lock until its folder is gone.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeLocked(folderFd, name.constData(), fd);
        ::close(fd);
    }
    ::close(folderFd);
}

StagedExtraction::StagedExtraction(const QString &destination) : m_destination(destination)
{
    removeAbandoned(destination);
    const QByteArray native = QFile::encodeName(destination);
    m_parentFd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int attempt = 0; m_parentFd >= 0 && attempt < 100; ++attempt) {
        QByteArray pattern = native + '/' + kPrefix + "XXXXXX";
        if (!::mkdtemp(pattern.data()))
            break;
        const QByteArray name = pattern.mid(pattern.lastIndexOf('/') + 1);
        const int fd = ::openat(m_parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        // Until we hold the lock a cleaner may take the new folder for an
        // abandoned one; it removes it holding the lock, so once we hold it the
        // name is ours if it still names our folder.
        struct stat opened, named;
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &opened) == 0
            && ::fstatat(m_parentFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(opened, named)) {
            m_folder = QFile::decodeName(pattern);
            m_name = name;
            m_lockFd = fd;
            return;
        }
        if (fd >= 0)
            ::close(fd);
    }
    const int error = errno;
    fail(error,
         QStringLiteral("cannot write in %1: %2").arg(destination, QString::fromLocal8Bit(std::strerror(error))));
}

StagedExtraction::~StagedExtraction()
{
    // Whatever is left, however deep; links are removed, never followed.
    if (m_lockFd >= 0) {
        removeLocked(m_parentFd, m_name.constData(), m_lockFd);
        ::close(m_lockFd);
    }
    if (m_parentFd >= 0)
        ::close(m_parentFd);
}

void StagedExtraction::protect(const QString &path)
{
    struct stat st;
    m_haveProtected = ::stat(QFile::encodeName(path).constData(), &st) == 0;
    m_protectedDevice = st.st_dev;
    m_protectedInode = st.st_ino;
}

bool StagedExtraction::fail(int error, const QString &text)
{
    m_errno = error;
    m_errorText = text;
    return false;
}

bool StagedExtraction::moveIntoPlace()
{
    if (m_folder.isEmpty())
        return false;
    // Depth-first over the staged tree; `moving` false only checks.
    const auto walk = [this](auto &self, const QByteArray &from, const QByteArray &to, bool moving) -> bool {
        std::vector<QByteArray> names;
        if (!namesIn(from, &names))
            return fail(errno, QStringLiteral("cannot read %1").arg(QFile::decodeName(from)));
        for (const QByteArray &name : names) {
            const QByteArray source = from + '/' + name;
            const QByteArray target = to + '/' + name;
            struct stat stagedStat, st;
            const Kind staged = kindOf(source, &stagedStat);
            const Kind existing = kindOf(target, &st);
            if (existing == Kind::Unknown)
                return fail(errno, QStringLiteral("cannot examine %1").arg(QFile::decodeName(target)));
            if (existing == Kind::Other && m_haveProtected && st.st_dev == m_protectedDevice
                && st.st_ino == m_protectedInode) {
                m_hitProtected = true;
                return fail(EEXIST, QStringLiteral("%1 is the archive being read").arg(QFile::decodeName(target)));
            }
            if (staged == Kind::Folder && existing == Kind::Folder) {
                // A rename cannot cross into another file system mounted there.
                if (st.st_dev != stagedStat.st_dev)
                    return fail(EXDEV, QStringLiteral("%1 is on another file system").arg(QFile::decodeName(target)));
                if (!self(self, source, target, moving))
                    return false;
                continue;
            }
            if (existing != Kind::Missing && (staged == Kind::Folder) != (existing == Kind::Folder)) {
                return fail(existing == Kind::Folder ? EISDIR : EEXIST,
                            existing == Kind::Folder
                                ? QStringLiteral("%1 exists and is a folder").arg(QFile::decodeName(target))
                                : QStringLiteral("%1 exists and is not a folder").arg(QFile::decodeName(target)));
            }
            if (moving && ::rename(source.constData(), target.constData()) != 0)
                return fail(errno, QStringLiteral("cannot move %1 into place: %2")
                                       .arg(QFile::decodeName(target), QString::fromLocal8Bit(std::strerror(errno))));
        }
        return true;
    };
    const QByteArray staged = QFile::encodeName(m_folder);
    const QByteArray destination = QFile::encodeName(m_destination);
    if (!walk(walk, staged, destination, false))
        return false;
    // Each entry appears whole: a new name or a file by one rename; a folder
    // that exists already is made complete in the staged tree (what it holds
    // and the result does not, linked in), then the two folders change
    // places at once and the old one is left here to be removed. Where that
    // cannot be done, its entries move in one by one.
    std::vector<QByteArray> names;
    if (!namesIn(staged, &names))
        return fail(errno, QStringLiteral("cannot read %1").arg(m_folder));
    for (const QByteArray &name : names) {
        const QByteArray source = staged + '/' + name;
        const QByteArray target = destination + '/' + name;
        struct stat st;
        const bool merge = kindOf(target, &st) == Kind::Folder;
        if (merge && completeFrom(target, source)
            && (::lchown(source.constData(), st.st_uid, st.st_gid) == 0 || errno == EPERM)
            && ::chmod(source.constData(), st.st_mode & 07777) == 0
            && ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0)
            continue;
        if (merge) {
            const auto entry = [&name](const QByteArray &folder) { return folder + '/' + name; };
            if (!walk(walk, entry(staged), entry(destination), true))
                return false;
        } else if (::rename(source.constData(), target.constData()) != 0) {
            return fail(errno, QStringLiteral("cannot move %1 into place: %2")
                                   .arg(QFile::decodeName(target), QString::fromLocal8Bit(std::strerror(errno))));
        }
    }
    return true;
}
