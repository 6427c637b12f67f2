#include "imaging/wimlib_image_view.h"

#include "imaging/wimlib_last_error.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
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

int64_t utcMilliseconds(const wimlib_timespec &time, int32_t high)
{
    int64_t seconds = int64_t(time.tv_sec);
    if constexpr (sizeof(time.tv_sec) < sizeof(int64_t))
        seconds = int64_t(uint64_t(uint32_t(high)) << 32 | uint32_t(time.tv_sec));
    return seconds * 1000 + time.tv_nsec / 1000000;
}

WimDirEntryView viewOf(const wimlib_dir_entry &d)
{
    WimDirEntryView e;
    e.name = QByteArrayView(d.filename ? d.filename : "");
    e.path = QByteArrayView(d.full_path);
    e.attributes = d.attributes;
    e.type = typeOf(d);
    if (e.type == WimDirEntry::Type::File)
        e.size = d.streams[0].resource.uncompressed_size;
    e.modified = utcMilliseconds(d.last_write_time, d.last_write_time_high);
    e.hardLinkGroup = d.num_links > 1 ? d.hard_link_group_id : 0;
    return e;
}

// Gathers entries, and where each link's data lies in the archive.
struct Collector {
    QList<WimDirEntry> *entries;
    std::vector<WimlibImageView::LinkData> links;
};

int collect(const wimlib_dir_entry *d, void *context)
{
    auto *c = static_cast<Collector *>(context);
    WimDirEntry entry = viewOf(*d).toEntry();
    if (entry.type == WimDirEntry::Type::Link)
        c->links.push_back({c->entries->size(), d->reparse_tag, d->streams[0].resource});
    c->entries->append(std::move(entry));
    return 0;
}

uint16_t u16(const QByteArray &data, qsizetype at)
{
    return uint16_t(uint8_t(data[at]) | uint8_t(data[at + 1]) << 8);
}

// A link's target from its reparse data (the buffer after the tag and
// length), as wimlib writes the link here without fixing absolute targets up:
// an absolute target loses its "\??\" prefix and its drive ("C:"), and
// backslashes become slashes. "" for data that is not a link.
QString targetOf(const QByteArray &data, uint32_t tag)
{
    const qsizetype header = tag == WIMLIB_REPARSE_TAG_SYMLINK ? 12 : 8;
    if (data.size() < header)
        return QString();
    const qsizetype offset = header + u16(data, 0);
    const qsizetype bytes = u16(data, 2);
    if (bytes == 0 || bytes % 2 != 0 || offset + bytes > data.size())
        return QString();
    QString target(bytes / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < target.size(); ++i)
        target[i] = QChar(u16(data, offset + 2 * i));
    const bool relative = tag == WIMLIB_REPARSE_TAG_SYMLINK && (uint8_t(data[8]) & 1) != 0;
    if (!relative) {
        if (target.startsWith(QLatin1String("\\??\\")))
            target.remove(0, 4);
        if (target.size() >= 2 && target[1] == QLatin1Char(':') && target[0].isLetter())
            target.remove(0, 2);
    }
    return target.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

// A visit's own callback: the visitor sees the library's entry as it is.
struct Visit {
    const WimDirVisitor &visitor;
    bool stopped = false;
};

int visitEntry(const wimlib_dir_entry *d, void *context)
{
    auto *v = static_cast<Visit *>(context);
    if (v->visitor(viewOf(*d)))
        return 0;
    v->stopped = true;
    return -1;  // any non-zero value ends wimlib's walk with it
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

ImagingError walkError(int code, const QString &path, uint32_t image)
{
    if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST)
        return {ImagingError::Kind::NotFound, 0, QStringLiteral("%1 is not in image %2").arg(path).arg(image)};
    if (code == WIMLIB_ERR_INVALID_IMAGE)
        return {ImagingError::Kind::NotFound, 0, QStringLiteral("image %1 does not exist").arg(image)};
    return wimlibError(QStringLiteral("cannot read %1 in image %2").arg(path).arg(image), code);
}

QByteArray nativePath(const QString &path)
{
    return path.isEmpty() ? QByteArrayLiteral("/") : path.toUtf8();
}

}  // namespace

WimlibImageView::WimlibImageView(std::shared_ptr<WimlibArchive> archive, uint32_t image)
    : m_archive(std::move(archive)), m_path(m_archive->path()), m_native(QFile::encodeName(m_path)), m_image(image)
{}

WimlibImageView::~WimlibImageView()
{
    if (m_decompressor)
        wimlib_free_decompressor(m_decompressor);
    if (m_fd >= 0)
        ::close(m_fd);
}

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
    if (m_decompressor)
        wimlib_free_decompressor(m_decompressor);
    m_decompressor = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(m_native.constData(), O_RDONLY | O_CLOEXEC);
    // The archive's own WIMStruct when no call is using it and it is current:
    // the archive reads its file again only when it needs it. The lock is
    // held for one stat, a few microseconds in which a long call starting on
    // another thread would find the archive busy.
    if (std::unique_lock work(m_archive->work(), std::try_to_lock); work.owns_lock())
        m_wim = m_archive->handOver();
    if (!m_wim) {
        WIMStruct *wim = nullptr;
        if (const int code = wimlib_open_wim(m_native.constData(), 0, &wim)) {
            *error = wimlibError(QStringLiteral("cannot open %1 as an archive").arg(m_path), code);
            return false;
        }
        m_wim.reset(wim);
    }
    m_stamp = st;
    wimlib_get_wim_info(m_wim.get(), &m_info);
    return true;
}

bool WimlibImageView::list(const QString &path, const QString &temporaryPath, WimDirEntry *self,
                           QList<WimDirEntry> *children, ImagingError *error)
{
    std::lock_guard lock(m_mutex);
    if (!ensureOpen(error))
        return false;
    const QByteArray native = nativePath(path);
    // The first call reads the image's metadata; wimlib keeps it loaded. A
    // path that is not a folder has no children: no need to look at it first.
    QList<WimDirEntry> own;
    Collector ownCollector{&own, {}};
    Collector childCollector{children, {}};
    int code = 0;
    if (self)
        code = wimlib_iterate_dir_tree(m_wim.get(), int(m_image), native.constData(), 0, collect, &ownCollector);
    if (code == 0 && children) {
        children->clear();
        code = wimlib_iterate_dir_tree(m_wim.get(), int(m_image), native.constData(),
                                       WIMLIB_ITERATE_DIR_TREE_FLAG_CHILDREN, collect, &childCollector);
    }
    if (code != 0 || (self && own.isEmpty())) {
        *error = walkError(code, path, m_image);
        if (children)
            children->clear();
        return false;
    }

    // Each link's few bytes of data straight from the archive; what cannot be
    // read that way (a solid or pipable archive, another part of a split
    // set) is extracted, links alone.
    QList<WimDirEntry *> unread;
    for (Collector *c : {&ownCollector, &childCollector}) {
        for (const LinkData &link : c->links) {
            WimDirEntry &entry = (*c->entries)[link.index];
            QByteArray data;
            if (readLinkData(link.resource, &data))
                entry.linkTarget = targetOf(data, link.tag);
            else
                unread << &entry;
        }
    }
    if (!unread.isEmpty())
        readLinkTargets(unread, temporaryPath);
    if (self)
        *self = std::move(own.first());
    return true;
}

bool WimlibImageView::visit(const QString &path, const WimDirVisitor &visitor, ImagingError *error)
{
    std::lock_guard lock(m_mutex);
    if (!ensureOpen(error))
        return false;
    Visit v{visitor};
    const int code = wimlib_iterate_dir_tree(m_wim.get(), int(m_image), nativePath(path).constData(),
                                             WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, visitEntry, &v);
    if (v.stopped) {
        *error = {ImagingError::Kind::Aborted, 0, QStringLiteral("stopped while visiting %1").arg(path)};
        return false;
    }
    if (code != 0) {
        *error = walkError(code, path, m_image);
        return false;
    }
    return true;
}

bool WimlibImageView::readLinkData(const wimlib_resource_entry &resource, QByteArray *data)
{
    // Link data is at most 16 KiB: one chunk of a resource whose chunk table
    // is empty, stored as is when compressing did not make it smaller.
    const uint64_t size = resource.uncompressed_size;
    const uint64_t stored = resource.compressed_size;
    if (m_fd < 0 || resource.is_missing || resource.packed || m_info.pipable
        || resource.part_number != m_info.part_number || size == 0 || size > 65536 || stored == 0 || stored > size
        || size > m_info.chunk_size)
        return false;
    QByteArray bytes(qsizetype(stored), Qt::Uninitialized);
    if (::pread(m_fd, bytes.data(), size_t(stored), off_t(resource.offset)) != ssize_t(stored))
        return false;
    if (stored == size) {
        *data = bytes;
    } else {
        if (!resource.is_compressed)
            return false;
        if (!m_decompressor
            && wimlib_create_decompressor(wimlib_compression_type(m_info.compression_type), m_info.chunk_size,
                                          &m_decompressor)
                   != 0)
            return false;
        data->resize(qsizetype(size));
        if (wimlib_decompress(bytes.constData(), size_t(stored), data->data(), size_t(size), m_decompressor) != 0)
            return false;
    }
    // What was read must be the link's data: its hash says so.
    return QCryptographicHash::hash(*data, QCryptographicHash::Sha1)
           == QByteArray::fromRawData(reinterpret_cast<const char *>(resource.sha1_hash), sizeof resource.sha1_hash);
}

void WimlibImageView::readLinkTargets(QList<WimDirEntry *> &links, const QString &temporaryPath)
{
    // Without a direct read, wimlib offers a link's data only through
    // extraction: extract the links alone (one call per folder) and read them back.
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
