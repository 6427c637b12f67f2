#include "imaging/wimlib_archive.h"

#include "imaging/locked_temporary_file.h"
#include "imaging/wimlib_errors.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_split_set.h"
#include "imaging/wimlib_work_lock.h"
#include "imaging/wimlib_xml.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

using Kind = ImagingError::Kind;

namespace {

// Attribute bits of WIM_INFO.WimAttributes, as the Windows imaging API defines them.
constexpr uint32_t kAttributeResourceOnly = 0x01;
constexpr uint32_t kAttributeMetadataOnly = 0x02;
constexpr uint32_t kAttributeVerifyData = 0x04;
constexpr uint32_t kAttributeRpFix = 0x08;
constexpr uint32_t kAttributeSpanned = 0x10;
constexpr uint32_t kAttributeReadOnly = 0x20;

// The header version of an archive with solid resources.
constexpr uint32_t kSolidVersion = 0xE00;

QString systemErrorText(const QString &what, int error)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// Fills *error and returns null, for the factories below.
std::nullptr_t failed(ImagingError *error, Kind kind, const QString &text, int systemError = 0)
{
    *error = {kind, systemError, text};
    return nullptr;
}

std::nullptr_t failedSystem(ImagingError *error, const QString &what, int systemError)
{
    const Kind kind = systemErrorKind(systemError);
    // In words that do not depend on the locale's translation of strerror().
    const QString text = kind == Kind::NoSpace ? QStringLiteral("%1: no space left on the device").arg(what)
                                               : systemErrorText(what, systemError);
    return failed(error, kind, text, systemError);
}

std::nullptr_t failedWimlib(ImagingError *error, const QString &what, int code, int systemError)
{
    return failed(error, wimlibErrorKind(code, systemError), wimlibErrorText(what, code),
                  wimlibSystemError(code, systemError));
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
           && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
           && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

uint32_t imageCountOf(WIMStruct *wim)
{
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim, &info);
    return info.image_count;
}

bool canOpen(const QByteArray &native, int mode)
{
    const int fd = ::open(native.constData(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// The magic numbers of an archive's header: a plain one and a pipable one.
bool startsLikeAnArchive(const QByteArray &native)
{
    QFile file(QFile::decodeName(native));
    if (!file.open(QIODevice::ReadOnly))
        return true;  // cannot tell
    const QByteArray magic = file.read(8);
    return magic == QByteArray("MSWIM\0\0\0", 8) || magic == QByteArray("WLPWM\0\0\0", 8);
}

}  // namespace

QString wimlibErrorText(const QString &what, int code)
{
    const wimlib_tchar *text = wimlib_get_error_string(static_cast<wimlib_error_code>(code));
    return QStringLiteral("%1: %2 (wimlib error %3)")
        .arg(what, text ? QString::fromUtf8(text) : QStringLiteral("unknown error"))
        .arg(code);
}

WimlibArchive::WimlibArchive(const QString &path, uint32_t access, uint32_t flags)
    : m_path(path), m_native(QFile::encodeName(path)), m_access(access), m_flags(flags)
{}

WimlibArchive::~WimlibArchive() = default;

std::shared_ptr<WimlibArchive> WimlibArchive::open(const QString &path, uint32_t access, uint32_t flags, QString *error)
{
    ImagingError why;
    auto archive = open(path, access, flags, &why);
    if (!archive)
        *error = why.text;
    return archive;
}

std::shared_ptr<WimlibArchive> WimlibArchive::open(const QString &path, uint32_t access, uint32_t flags,
                                                   ImagingError *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::shared_ptr<WimlibArchive> archive(new WimlibArchive(absolute, access, flags));
    const QByteArray &native = archive->m_native;

    struct stat st;
    if (::stat(native.constData(), &st) != 0)
        return failedSystem(error, QStringLiteral("cannot open %1").arg(absolute), errno);
    // Opening a pipe or a device for reading can block or have side effects.
    if (S_ISDIR(st.st_mode))
        return failed(error, Kind::Other, QStringLiteral("cannot open %1: it is a folder").arg(absolute), EISDIR);
    if (!S_ISREG(st.st_mode))
        return failed(error, Kind::NotAnArchive, QStringLiteral("cannot open %1: not a regular file").arg(absolute));
    if (!canOpen(native, O_RDONLY))
        return failedSystem(error, QStringLiteral("cannot read %1").arg(absolute), errno);
    if (archive->mayWrite()) {
        if (!canOpen(native, O_RDWR))
            return failedSystem(error, QStringLiteral("cannot write %1").arg(absolute), errno);
        if (::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            return failed(error, Kind::AccessDenied,
                          QStringLiteral("cannot write %1: the file is read-only").arg(absolute), EACCES);
        }
    }
    if (const int code = archive->load()) {
        failedWimlib(error, QStringLiteral("cannot open %1 as an archive").arg(absolute), code,
                     archive->m_lastSystemError);
        // wimlib finds a short file cut off before it looks at what it is; and
        // whatever it stumbles on in a file that does begin as an archive lies
        // in its header and tables, the only parts an open reads.
        if (!startsLikeAnArchive(native))
            error->kind = Kind::NotAnArchive;
        else if (error->kind == Kind::DamagedData)
            error->kind = Kind::DamagedHeader;
        return nullptr;
    }
    return archive;
}

std::shared_ptr<WimlibArchive> WimlibArchive::create(const QString &path, uint32_t compression, bool replaceExisting,
                                                     uint32_t access, uint32_t flags, QString *error)
{
    ImagingError why;
    auto archive = create(path, compression, replaceExisting, access, flags, &why);
    if (!archive)
        *error = why.text;
    return archive;
}

std::shared_ptr<WimlibArchive> WimlibArchive::create(const QString &path, uint32_t compression, bool replaceExisting,
                                                     uint32_t access, uint32_t flags, ImagingError *error)
{
    if (compression > WIM_COMPRESS_LZMS)
        return failed(error, Kind::Other, QStringLiteral("unknown compression type %1").arg(compression));
    if (!(access & WIM_GENERIC_WRITE))
        return failed(error, Kind::Other, QStringLiteral("creating an archive needs write access"));
    QString absolute = QFileInfo(path).absoluteFilePath();
    // Replacing a symbolic link's target, not the link.
    const QFileInfo existing(absolute);
    if (existing.exists() && !existing.canonicalFilePath().isEmpty())
        absolute = existing.canonicalFilePath();
    if (QFileInfo(absolute).isDir())
        return failed(error, Kind::Other, QStringLiteral("cannot create %1: it is a folder").arg(absolute), EISDIR);
    const QString folder = QFileInfo(absolute).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        return failed(error, Kind::NotFound,
                      QStringLiteral("cannot create %1: the folder does not exist").arg(absolute), ENOENT);
    }

    std::shared_ptr<WimlibArchive> archive(new WimlibArchive(absolute, access, flags));
    archive->m_inMemoryOnly = true;
    archive->m_compression = int(compression);
    if (const int code = archive->load())
        return failedWimlib(error, QStringLiteral("cannot create %1").arg(absolute), code, archive->m_lastSystemError);
    if (replaceExisting) {
        // Whoever is changing the file now keeps it; nobody starts until it is replaced.
        ArchiveFileLock old;
        if (!old.take(archive->m_native, ArchiveFileLock::Mode::Exclusive, true, error)) {
            error->text = QStringLiteral("cannot create %1: %2").arg(absolute, error->text);
            return nullptr;
        }
        if (const int code = archive->writeNewFile(0, true)) {
            const int systemError = archive->m_lastSystemError;
            const QString what = QStringLiteral("cannot create %1").arg(absolute);
            return code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_RENAME || code == WIMLIB_ERR_WRITE
                       ? failedSystem(error, what, systemError)
                       : failedWimlib(error, what, code, systemError);
        }
        archive->m_inMemoryOnly = false;
        if (const int code = archive->load()) {
            return failedWimlib(error, QStringLiteral("cannot open the new archive %1").arg(absolute), code,
                                archive->m_lastSystemError);
        }
    } else {
        // Make sure the first commit will be able to create the file.
        LockedTemporaryFile probe;
        if (!probe.create(archive->m_native))
            return failedSystem(error, QStringLiteral("cannot create %1").arg(absolute), errno);
    }
    return archive;
}

int WimlibArchive::load()
{
    const bool expected = m_haveStamp;
    const struct stat before = m_stamp;
    m_wim.reset();
    m_haveStamp = false;
    m_stale.store(false, std::memory_order_release);
    WIMStruct *wim = nullptr;
    int code;
    errno = 0;
    if (m_inMemoryOnly) {
        code = wimlib_create_new_wim(static_cast<wimlib_compression_type>(m_compression), &wim);
    } else {
        const int openFlags = mayWrite() ? WIMLIB_OPEN_FLAG_WRITE_ACCESS : 0;
        // The stamp must describe what was read: a program that ignores our
        // lock may write between the stat and the read, so read again then.
        for (int round = 0;; ++round) {
            struct stat first;
            const bool known = ::stat(m_native.constData(), &first) == 0;
            code = wimlib_open_wim(m_native.constData(), openFlags, &wim);
            if (code == 0) {
                code = wimsplit::attachParts(wim, m_path, 0).code;
                if (code != 0) {
                    wimlib_free(wim);
                    wim = nullptr;
                }
            }
            if (code != 0)
                break;
            m_haveStamp = known && ::stat(m_native.constData(), &m_stamp) == 0;
            if (!m_haveStamp || sameFile(first, m_stamp) || round == 3)
                break;
            wimlib_free(wim);
            wim = nullptr;
        }
    }
    if (code != 0) {
        m_lastSystemError = errno;
        // What was read before is still what a later read is compared with.
        m_haveStamp = expected;
        m_stamp = before;
        takeSnapshot();
        return code;
    }
    if (expected && (!m_haveStamp || !sameFile(before, m_stamp)))
        m_changedForCalls = m_changedForRefresh = true;
    m_wim.reset(wim);
    m_handedOut = false;
    m_loadedOn = std::this_thread::get_id();
    m_loadedImageCount = imageCountOf(wim);
    takeSnapshot();
    return 0;
}

void WimlibArchive::stampOwnWrite()
{
    if (!m_inMemoryOnly)
        m_haveStamp = ::stat(m_native.constData(), &m_stamp) == 0;
}

bool WimlibArchive::unchangedOnDisk() const
{
    struct stat now;
    return m_haveStamp && ::stat(m_native.constData(), &now) == 0 && sameFile(now, m_stamp);
}

void WimlibArchive::takeSnapshot()
{
    auto snapshot = std::make_shared<WimlibSnapshot>();
    if (m_wim) {
        wimlib_wim_info info{};
        wimlib_get_wim_info(m_wim.get(), &info);
        snapshot->imageCount = info.image_count;
        snapshot->bootIndex = info.boot_index;
        // A new archive reports no compression until it is written with its own.
        // A solid archive (ESD) holds its data in solid resources, LZMS unless
        // asked otherwise, whatever the header names for the rest.
        snapshot->compression = uint32_t(m_inMemoryOnly                      ? m_compression
                                         : info.wim_version == kSolidVersion ? WIMLIB_COMPRESSION_TYPE_LZMS
                                                                             : info.compression_type);
        std::memcpy(snapshot->guid, info.guid, sizeof snapshot->guid);
        snapshot->partNumber = info.part_number;
        snapshot->totalParts = info.total_parts;
        snapshot->attributes =
            (info.resource_only ? kAttributeResourceOnly : 0) | (info.metadata_only ? kAttributeMetadataOnly : 0)
            | (info.has_integrity_table ? kAttributeVerifyData : 0) | (info.has_rpfix ? kAttributeRpFix : 0)
            | (info.spanned || info.total_parts > 1 ? kAttributeSpanned : 0)
            | (info.is_marked_readonly ? kAttributeReadOnly : 0);

        QString document;
        if (!m_inMemoryOnly) {
            void *buffer = nullptr;
            size_t size = 0;
            if (wimlib_get_xml_data(m_wim.get(), &buffer, &size) == 0 && buffer) {
                document.resize(qsizetype(size / 2));
                std::memcpy(document.data(), buffer, (size / 2) * 2);
                std::free(buffer);
            }
        }
        snapshot->images = wimxml::imageElements(document, int(info.image_count));
    } else {
        snapshot->compression = uint32_t(m_compression);
    }
    std::lock_guard lock(m_infoMutex);
    m_snapshot = std::move(snapshot);
}

std::shared_ptr<const WimlibSnapshot> WimlibArchive::snapshot()
{
    if (m_stale.load(std::memory_order_acquire)) {
        // Stale only between a change's end and the next use: no long call
        // holds the lock then.
        std::lock_guard work(m_work);
        if (m_stale.load(std::memory_order_relaxed))
            load();
    }
    std::lock_guard lock(m_infoMutex);
    return m_snapshot;
}

QString WimlibArchive::temporaryPath() const
{
    std::lock_guard lock(m_infoMutex);
    return m_temporaryPath;
}

void WimlibArchive::setTemporaryPath(const QString &path)
{
    std::lock_guard lock(m_infoMutex);
    m_temporaryPath = path;
}

bool WimlibArchive::refresh(QString *error)
{
    ImagingError why;
    if (refresh(&why))
        return true;
    *error = why.text;
    return false;
}

bool WimlibArchive::refresh(ImagingError *error)
{
    const bool loaded = m_wim && !m_stale.load(std::memory_order_relaxed);
    bool current = loaded;
    if (!m_inMemoryOnly) {
        struct stat now;
        if (::stat(m_native.constData(), &now) != 0) {
            failedSystem(error, QStringLiteral("the archive %1 is gone").arg(m_path), errno);
            return false;
        }
        current = loaded && m_haveStamp && sameFile(now, m_stamp);
    }
    if (!current) {
        if (const int code = load()) {
            failedWimlib(error, QStringLiteral("cannot read the archive %1 again").arg(m_path), code,
                         m_lastSystemError);
            return false;
        }
    }
    if (m_changedForCalls) {
        m_changedForCalls = false;
        failed(error, Kind::ChangedOnDisk,
               QStringLiteral("the archive %1 was changed by another program since it was read; it has been read "
                              "again and nothing was written")
                   .arg(m_path));
        return false;
    }
    return true;
}

bool WimlibArchive::readAgainIfChanged(bool *changed, ImagingError *error)
{
    if (!m_inMemoryOnly) {
        struct stat now;
        if (::stat(m_native.constData(), &now) != 0) {
            failedSystem(error, QStringLiteral("the archive %1 is gone").arg(m_path), errno);
            return false;
        }
        if (!m_haveStamp || !sameFile(now, m_stamp)) {
            if (const int code = load()) {
                failedWimlib(error, QStringLiteral("cannot read the archive %1 again").arg(m_path), code,
                             m_lastSystemError);
                return false;
            }
        }
    }
    // The caller reads what the handle shows now: that is its view from here on.
    *changed = m_changedForRefresh;
    m_changedForRefresh = m_changedForCalls = false;
    return true;
}

WimlibPtr WimlibArchive::handOver()
{
    struct stat now;
    if (!m_wim || m_stale.load(std::memory_order_relaxed) || m_inMemoryOnly || !m_haveStamp
        || m_loadedOn != std::this_thread::get_id() || ::stat(m_native.constData(), &now) != 0
        || !sameFile(now, m_stamp))
        return nullptr;
    return std::move(m_wim);
}

bool WimlibArchive::droppedDotEntries(uint32_t image, QStringList *folders) const
{
    if (!m_haveStamp || !sameFile(m_dotStamp, m_stamp) || !m_dotEntries.contains(image))
        return false;
    *folders = m_dotEntries.value(image);
    return true;
}

void WimlibArchive::noteDroppedDotEntries(uint32_t image, const QStringList &folders)
{
    if (!m_haveStamp)
        return;
    if (!sameFile(m_dotStamp, m_stamp))
        m_dotEntries.clear();
    m_dotStamp = m_stamp;
    m_dotEntries.insert(image, folders);
}

void WimlibArchive::discard()
{
    m_wim.reset();
    m_stale.store(true, std::memory_order_release);
}

int WimlibArchive::writeNewFile(int writeFlags, bool replaceExisting)
{
    m_lastSystemError = 0;
    LockedTemporaryFile temporary;
    if (!temporary.create(m_native)) {
        m_lastSystemError = errno;
        return WIMLIB_ERR_OPEN;
    }
    if (m_committing)
        m_committing->setWriteback(temporary.fd());
    errno = 0;
    int code = wimlib_write(m_wim.get(), temporary.path().constData(), WIMLIB_ALL_IMAGES,
                            writeFlags | WIMLIB_WRITE_FLAG_FSYNC, 0);
    if (m_committing)
        m_committing->setWriteback(-1);
    if (code != 0) {
        m_lastSystemError = errno;
        return code;  // the temporary file goes with `temporary`
    }
    int renamed = replaceExisting ? ::rename(temporary.path().constData(), m_native.constData())
                                  : ::renameat2(AT_FDCWD, temporary.path().constData(), AT_FDCWD, m_native.constData(),
                                                RENAME_NOREPLACE);
    if (renamed != 0 && !replaceExisting && errno == EINVAL) {
        // A filesystem without RENAME_NOREPLACE: link() refuses an existing name too.
        renamed = ::link(temporary.path().constData(), m_native.constData());
        if (renamed == 0) {
            LockedTemporaryFile::syncFolder(m_native);
            return 0;  // `temporary` removes the other name
        }
    }
    if (renamed != 0) {
        m_lastSystemError = errno;
        return WIMLIB_ERR_RENAME;
    }
    temporary.renamed();
    LockedTemporaryFile::syncFolder(m_native);
    return 0;
}

int WimlibArchive::takeAppendPath(int *writeFlags)
{
    WIMStruct *wim = m_wim.get();
    // Added images and deletions take the append path by themselves.
    if (m_inMemoryOnly || imageCountOf(wim) != m_loadedImageCount)
        return 0;
    // A deletion does too, and with a soft delete it writes no image's
    // metadata again: delete an image that was never written.
    int added = 0;
    if (const int code = wimlib_add_empty_image(wim, nullptr, &added))
        return code;
    if (const int code = wimlib_delete_image(wim, added))
        return code;
    *writeFlags |= WIMLIB_WRITE_FLAG_SOFT_DELETE;
    return 0;
}

int WimlibArchive::commit(int writeFlags, WimlibProgress *progress)
{
    m_lastSystemError = 0;
    if (!m_wim)
        return WIMLIB_ERR_INVALID_PARAM;
    if (progress)
        wimlib_register_progress_function(m_wim.get(), &WimlibProgress::forward, progress);
    m_committing = progress;
    int code;
    if (m_inMemoryOnly) {
        code = writeNewFile(writeFlags, false);
        if (code == 0)
            m_inMemoryOnly = false;
    } else if (!unchangedOnDisk()) {
        // Written meanwhile by a program that ignores our lock: appending
        // after the end we read would cut off what it added.
        m_committing = nullptr;
        if (load() == 0)
            m_changedForCalls = false;  // this refusal tells it
        return kChangedOnDisk;
    } else {
        LockedTemporaryFile::removeAbandoned(QFile::encodeName(QFileInfo(m_path).absolutePath()));
        const int writeback = progress ? ::open(m_native.constData(), O_RDONLY | O_CLOEXEC) : -1;
        if (progress)
            progress->setWriteback(writeback);
        errno = 0;
        code = takeAppendPath(&writeFlags);
        if (code == 0)
            code = wimlib_overwrite(m_wim.get(), writeFlags | WIMLIB_WRITE_FLAG_FSYNC, 0);
        m_lastSystemError = code != 0 ? errno : 0;
        if (progress)
            progress->setWriteback(-1);
        if (writeback >= 0)
            ::close(writeback);
    }
    m_committing = nullptr;
    stampOwnWrite();
    // After a commit wimlib allows nothing but wimlib_free on the WIMStruct;
    // after a failed one it still holds the change: read the archive again,
    // on its next use.
    discard();
    return code;
}

int WimlibArchive::rebuild(int writeFlags, WimlibProgress *progress)
{
    if (!m_wim || m_inMemoryOnly)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!unchangedOnDisk()) {
        if (load() == 0)
            m_changedForCalls = false;
        return kChangedOnDisk;
    }
    struct stat before;
    const bool known = ::stat(m_native.constData(), &before) == 0;
    if (progress)
        wimlib_register_progress_function(m_wim.get(), &WimlibProgress::forward, progress);
    const int code = writeNewFile(writeFlags, true);
    const int error = errno;
    discard();
    // The new file was made with our umask and, as root, our owner: give it
    // the archive's. Its data is safe either way, so a refusal is not a failure.
    if (code == 0 && known) {
        const bool owned = ::geteuid() != 0 || ::chown(m_native.constData(), before.st_uid, before.st_gid) == 0;
        if (owned)
            ::chmod(m_native.constData(), before.st_mode & 07777);
    }
    stampOwnWrite();
    errno = error;
    return code;
}
