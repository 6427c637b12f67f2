#include "imaging/wimlib_image_view.h"

#include "imaging/wimlib_last_error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

WimDirEntry::Type typeOf(const wimlib_dir_entry &d)
{
    // What an extraction on this system makes of it: symbolic links and
    // junctions become links, other reparse points plain files or folders.
    if ((d.attributes & WIMLIB_FILE_ATTRIBUTE_REPARSE_POINT)
        && (d.reparse_tag == WIMLIB_REPARSE_TAG_SYMLINK || d.reparse_tag == WIMLIB_REPARSE_TAG_MOUNT_POINT))
        return WimDirEntry::Type::Link;
    return (d.attributes & WIMLIB_FILE_ATTRIBUTE_DIRECTORY) ? WimDirEntry::Type::Folder : WimDirEntry::Type::File;
}

QDateTime utcTime(const wimlib_timespec &time, int32_t high)
{
    qint64 seconds = qint64(time.tv_sec);
    if constexpr (sizeof(time.tv_sec) < sizeof(qint64))
        seconds = qint64(uint64_t(uint32_t(high)) << 32 | uint32_t(time.tv_sec));
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + time.tv_nsec / 1000000, Qt::UTC);
}

WimDirEntry toEntry(const wimlib_dir_entry &d)
{
    WimDirEntry e;
    e.name = d.filename ? QString::fromUtf8(d.filename) : QString();
    e.path = QString::fromUtf8(d.full_path);
    e.attributes = d.attributes;
    e.type = typeOf(d);
    if (e.type == WimDirEntry::Type::File)
        e.size = d.streams[0].resource.uncompressed_size;
    e.modified = utcTime(d.last_write_time, d.last_write_time_high);
    e.hardLinkGroup = d.num_links > 1 ? d.hard_link_group_id : 0;
    return e;
}

int collect(const wimlib_dir_entry *d, void *context)
{
    static_cast<QList<WimDirEntry> *>(context)->append(toEntry(*d));
    return 0;
}

bool sameStamp(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

ImagingError wimlibError(const QString &what, int code)
{
    const int systemError = errno;
    return {wimlibErrorKind(code, systemError), systemError, wimlibErrorText(what, code)};
}

}  // namespace

WimlibImageView::WimlibImageView(const QString &archivePath, uint32_t image)
    : m_path(archivePath), m_native(QFile::encodeName(archivePath)), m_image(image)
{
}

WimlibImageView::~WimlibImageView() = default;

bool WimlibImageView::ensureOpen(ImagingError *error)
{
    struct stat st;
    if (::stat(m_native.constData(), &st) != 0) {
        const int systemError = errno;
        *error = {systemErrorKind(systemError), systemError,
                  QStringLiteral("cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(systemError)))};
        return false;
    }
    if (m_wim && sameStamp(st, m_stamp))
        return true;
    m_wim.reset();
    WIMStruct *wim = nullptr;
    if (const int code = wimlib_open_wim(m_native.constData(), 0, &wim)) {
        *error = wimlibError(QStringLiteral("cannot open %1 as an archive").arg(m_path), code);
        return false;
    }
    m_wim.reset(wim);
    m_stamp = st;
    return true;
}

bool WimlibImageView::list(const QString &path, const QString &temporaryPath, WimDirEntry *self,
                           QList<WimDirEntry> *children, ImagingError *error)
{
    std::lock_guard lock(m_mutex);
    if (!ensureOpen(error))
        return false;
    const QByteArray native = path.isEmpty() ? QByteArrayLiteral("/") : path.toUtf8();
    // The first call reads the image's metadata; wimlib keeps it loaded. A
    // path that is not a folder has no children: no need to look at it first.
    QList<WimDirEntry> own;
    int code = 0;
    if (self)
        code = wimlib_iterate_dir_tree(m_wim.get(), int(m_image), native.constData(), 0, collect, &own);
    if (code == 0 && children) {
        children->clear();
        code = wimlib_iterate_dir_tree(m_wim.get(), int(m_image), native.constData(),
                                       WIMLIB_ITERATE_DIR_TREE_FLAG_CHILDREN, collect, children);
    }
    if (code != 0 || (self && own.isEmpty())) {
        if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST)
            *error = {ImagingError::Kind::NotFound, 0, QStringLiteral("%1 is not in image %2").arg(path).arg(m_image)};
        else if (code == WIMLIB_ERR_INVALID_IMAGE)
            *error = {ImagingError::Kind::NotFound, 0, QStringLiteral("image %1 does not exist").arg(m_image)};
        else
            *error = wimlibError(QStringLiteral("cannot read %1 in image %2").arg(path).arg(m_image), code);
        if (children)
            children->clear();
        return false;
    }

    QList<WimDirEntry *> links;
    if (self && own.first().type == WimDirEntry::Type::Link)
        links << &own.first();
    if (children) {
        for (WimDirEntry &entry : *children) {
            if (entry.type == WimDirEntry::Type::Link)
                links << &entry;
        }
    }
    if (!links.isEmpty())
        readLinkTargets(links, temporaryPath);
    if (self)
        *self = std::move(own.first());
    return true;
}

void WimlibImageView::readLinkTargets(QList<WimDirEntry *> &links, const QString &temporaryPath)
{
    // wimlib offers a link's data only through extraction: extract the links
    // alone (a few bytes each, one call per folder) and read them back.
    QTemporaryDir scratch((temporaryPath.isEmpty() ? QDir::tempPath() : temporaryPath)
                          + QStringLiteral("/pellwick-links-XXXXXX"));
    if (!scratch.isValid())
        return;
    std::vector<QByteArray> paths;
    std::vector<const char *> pointers;
    paths.reserve(size_t(links.size()));
    for (const WimDirEntry *link : links) {
        // A name holding "/" cannot be looked up (it reads as two names), and
        // one path that is not found would fail the whole batch.
        if (link->name.isEmpty() || link->name.contains(QLatin1Char('/')))
            continue;
        paths.push_back(link->path.toUtf8());
        pointers.push_back(paths.back().constData());
    }
    if (pointers.empty())
        return;
    const QByteArray folder = QFile::encodeName(scratch.path());
    if (wimlib_extract_paths(m_wim.get(), int(m_image), folder.constData(), pointers.data(), pointers.size(),
                             WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE | WIMLIB_EXTRACT_FLAG_NORPFIX)
        != 0)
        return;
    std::vector<char> buffer(4096);
    for (WimDirEntry *link : links) {
        // wimlib skips a name that is not valid here: no link, no target.
        const QByteArray linkPath = folder + '/' + QFile::encodeName(link->name);
        const ssize_t length = ::readlink(linkPath.constData(), buffer.data(), buffer.size());
        if (length > 0)
            link->linkTarget = QFile::decodeName(QByteArray(buffer.data(), qsizetype(length)));
    }
}
