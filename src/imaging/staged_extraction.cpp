#include "imaging/staged_extraction.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
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

enum class Kind { Missing, Folder, Other, Unknown };

Kind kindOf(const QByteArray &path, struct stat *st)
{
    if (::lstat(path.constData(), st) != 0)
        return errno == ENOENT ? Kind::Missing : Kind::Unknown;
    return S_ISDIR(st->st_mode) ? Kind::Folder : Kind::Other;
}

}  // namespace

StagedExtraction::StagedExtraction(const QString &destination) : m_destination(destination)
{
    QByteArray pattern = QFile::encodeName(destination) + "/.pellwick-extract-XXXXXX";
    if (::mkdtemp(pattern.data()))
        m_folder = QFile::decodeName(pattern);
    else
        fail(errno, QStringLiteral("cannot write in %1: %2")
                        .arg(destination, QString::fromLocal8Bit(std::strerror(errno))));
}

StagedExtraction::~StagedExtraction()
{
    // QDir removes links themselves and never descends through them.
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
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
    return walk(walk, staged, destination, false) && walk(walk, staged, destination, true);
}
