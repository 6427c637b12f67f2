#include "imaging/wimlib_archive.h"

#include "imaging/wimlib_last_error.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_split_set.h"
#include "imaging/wimlib_xml.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

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

// A failed system call on the archive's file.
ImagingError systemFailure(const QString &what, int error)
{
    return {systemErrorKind(error), error, systemErrorText(what, error)};
}

// Codes that wimlib gives for a header it cannot take.
bool describesHeader(int code)
{
    switch (code) {
    case WIMLIB_ERR_UNKNOWN_VERSION:
    case WIMLIB_ERR_INVALID_CHUNK_SIZE:
    case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
    case WIMLIB_ERR_INVALID_PART_NUMBER:
    case WIMLIB_ERR_IMAGE_COUNT:
    case WIMLIB_ERR_INVALID_INTEGRITY_TABLE:
        return true;
    default:
        return false;
    }
}

// Whether the file begins with the magic characters of an archive (the
// ordinary ones or those of a pipable archive).
bool beginsAsArchive(const QByteArray &native)
{
    QFile file(QFile::decodeName(native));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    return head == QByteArray("MSWIM\0\0\0", 8) || head == QByteArray("WLPWM\0\0\0", 8);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
        && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

bool canOpen(const QByteArray &native, int mode)
{
    const int fd = ::open(native.constData(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
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
{
}

WimlibArchive::~WimlibArchive() = default;

std::shared_ptr<WimlibArchive> WimlibArchive::open(const QString &path, uint32_t access, uint32_t flags,
                                                   ImagingError *error)
{
    using Kind = ImagingError::Kind;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::shared_ptr<WimlibArchive> archive(new WimlibArchive(absolute, access, flags));
    const QByteArray &native = archive->m_native;

    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        *error = systemFailure(QStringLiteral("cannot open %1").arg(absolute), errno);
        return nullptr;
    }
    // Opening a pipe or a device for reading can block or have side effects.
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode)
            ? ImagingError{Kind::Other, EISDIR, QStringLiteral("cannot open %1: it is a folder").arg(absolute)}
            : ImagingError{Kind::NotAnArchive, 0, QStringLiteral("cannot open %1: not a regular file").arg(absolute)};
        return nullptr;
    }
    if (!canOpen(native, O_RDONLY)) {
        *error = systemFailure(QStringLiteral("cannot read %1").arg(absolute), errno);
        return nullptr;
    }
    if (archive->mayWrite()) {
        if (!canOpen(native, O_RDWR)) {
            *error = systemFailure(QStringLiteral("cannot write %1").arg(absolute), errno);
            return nullptr;
        }
        if (::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            // What anyone else would be told.
            *error = {Kind::AccessDenied, EACCES, QStringLiteral("cannot write %1: the file is read-only").arg(absolute)};
            return nullptr;
        }
    }
    if (const int code = archive->load()) {
        const int loadErrno = errno;
        *error = wimlibError(code, loadErrno,
                             wimlibErrorText(QStringLiteral("cannot open %1 as an archive").arg(absolute), code));
        // Whatever wimlib stumbled on while reading its header and tables, a
        // file that does not begin as an archive is not one (a short text file
        // ends before the header does), and one that does is damaged there.
        if (error->kind == Kind::DamagedData || error->kind == Kind::DamagedHeader || error->kind == Kind::NotAnArchive
            || describesHeader(code))
            error->kind = beginsAsArchive(native) ? Kind::DamagedHeader : Kind::NotAnArchive;
        return nullptr;
    }
    return archive;
}

std::shared_ptr<WimlibArchive> WimlibArchive::create(const QString &path, uint32_t compression, bool replaceExisting,
                                                     uint32_t access, uint32_t flags, ImagingError *error)
{
    using Kind = ImagingError::Kind;
    if (compression > WIM_COMPRESS_LZMS) {
        *error = {Kind::Other, 0, QStringLiteral("unknown compression type %1").arg(compression)};
        return nullptr;
    }
    if (!(access & WIM_GENERIC_WRITE)) {
        *error = {Kind::Other, 0, QStringLiteral("creating an archive needs write access")};
        return nullptr;
    }
    QString absolute = QFileInfo(path).absoluteFilePath();
    // Replacing a symbolic link's target, not the link.
    const QFileInfo existing(absolute);
    if (existing.exists() && !existing.canonicalFilePath().isEmpty())
        absolute = existing.canonicalFilePath();
    if (QFileInfo(absolute).isDir()) {
        *error = {Kind::Other, EISDIR, QStringLiteral("cannot create %1: it is a folder").arg(absolute)};
        return nullptr;
    }
    const QString folder = QFileInfo(absolute).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        *error = {Kind::NotFound, ENOENT, QStringLiteral("cannot create %1: the folder does not exist").arg(absolute)};
        return nullptr;
    }

    std::shared_ptr<WimlibArchive> archive(new WimlibArchive(absolute, access, flags));
    archive->m_inMemoryOnly = true;
    archive->m_compression = int(compression);
    if (const int code = archive->load()) {
        *error = wimlibError(code, errno, wimlibErrorText(QStringLiteral("cannot create %1").arg(absolute), code));
        return nullptr;
    }
    if (replaceExisting) {
        if (const int code = archive->writeNewFile(0, true)) {
            const int writeErrno = errno;
            *error = code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_RENAME || code == WIMLIB_ERR_WRITE
                ? systemFailure(QStringLiteral("cannot create %1").arg(absolute), writeErrno)
                : wimlibError(code, writeErrno, wimlibErrorText(QStringLiteral("cannot create %1").arg(absolute), code));
            return nullptr;
        }
        archive->m_inMemoryOnly = false;
        if (const int code = archive->load()) {
            *error = wimlibError(code, errno,
                                 wimlibErrorText(QStringLiteral("cannot open the new archive %1").arg(absolute), code));
            return nullptr;
        }
    } else {
        // Make sure the first commit will be able to create the file.
        const QByteArray probe = QFile::encodeName(
            QStringLiteral("%1/.%2.probe-%3").arg(folder, QFileInfo(absolute).fileName())
                .arg(QRandomGenerator::global()->generate64(), 0, 36));
        const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            *error = systemFailure(QStringLiteral("cannot create %1").arg(absolute), errno);
            return nullptr;
        }
        ::close(fd);
        ::unlink(probe.constData());
    }
    return archive;
}

int WimlibArchive::load()
{
    m_wim.reset();
    m_haveStamp = false;
    m_stale.store(false, std::memory_order_release);
    WIMStruct *wim = nullptr;
    int code;
    if (m_inMemoryOnly) {
        code = wimlib_create_new_wim(static_cast<wimlib_compression_type>(m_compression), &wim);
    } else {
        const int openFlags = mayWrite() ? WIMLIB_OPEN_FLAG_WRITE_ACCESS : 0;
        code = wimlib_open_wim(m_native.constData(), openFlags, &wim);
    }
    if (code == 0 && !m_inMemoryOnly) {
        code = wimsplit::attachParts(wim, m_path, 0).code;
        if (code != 0)
            wimlib_free(wim);
    }
    if (code != 0) {
        takeSnapshot();
        return code;
    }
    m_wim.reset(wim);
    if (!m_inMemoryOnly)
        m_haveStamp = ::stat(m_native.constData(), &m_stamp) == 0;
    takeSnapshot();
    return 0;
}

void WimlibArchive::takeSnapshot()
{
    auto snapshot = std::make_shared<WimlibSnapshot>();
    if (m_wim) {
        wimlib_wim_info info {};
        wimlib_get_wim_info(m_wim.get(), &info);
        snapshot->imageCount = info.image_count;
        snapshot->bootIndex = info.boot_index;
        // A new archive reports no compression until it is written with its own.
        // A solid archive (ESD) holds its data in solid resources, LZMS unless
        // asked otherwise, whatever the header names for the rest.
        snapshot->compression = uint32_t(m_inMemoryOnly ? m_compression
                                         : info.wim_version == kSolidVersion ? WIMLIB_COMPRESSION_TYPE_LZMS
                                                                             : info.compression_type);
        std::memcpy(snapshot->guid, info.guid, sizeof snapshot->guid);
        snapshot->partNumber = info.part_number;
        snapshot->totalParts = info.total_parts;
        snapshot->attributes = (info.resource_only ? kAttributeResourceOnly : 0)
            | (info.metadata_only ? kAttributeMetadataOnly : 0)
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
    const bool loaded = m_wim && !m_stale.load(std::memory_order_relaxed);
    if (!m_inMemoryOnly) {
        struct stat now;
        if (::stat(m_native.constData(), &now) != 0) {
            *error = systemErrorText(QStringLiteral("the archive %1 is gone").arg(m_path), errno);
            return false;
        }
        if (loaded && m_haveStamp && sameFile(now, m_stamp))
            return true;
    } else if (loaded) {
        return true;
    }
    if (const int code = load()) {
        *error = wimlibErrorText(QStringLiteral("cannot read the archive %1 again").arg(m_path), code);
        return false;
    }
    return true;
}

WimlibPtr WimlibArchive::handOver()
{
    struct stat now;
    if (!m_wim || m_stale.load(std::memory_order_relaxed) || m_inMemoryOnly || !m_haveStamp
        || ::stat(m_native.constData(), &now) != 0 || !sameFile(now, m_stamp))
        return nullptr;
    return std::move(m_wim);
}

void WimlibArchive::discard()
{
    m_wim.reset();
    m_stale.store(true, std::memory_order_release);
}

int WimlibArchive::writeNewFile(int writeFlags, bool replaceExisting)
{
    const QFileInfo target(m_path);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = QFile::encodeName(QStringLiteral("%1/.%2.new-%3")
                                          .arg(target.absolutePath(), target.fileName())
                                          .arg(QRandomGenerator::global()->generate64(), 0, 36));
        // The mode passes through the umask, as for any new file.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return WIMLIB_ERR_OPEN;
    }
    if (fd < 0)
        return WIMLIB_ERR_OPEN;
    ::close(fd);

    int code = wimlib_write(m_wim.get(), temporary.constData(), WIMLIB_ALL_IMAGES, writeFlags, 0);
    if (code == 0) {
        const int renamed = replaceExisting
            ? ::rename(temporary.constData(), m_native.constData())
            : ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, m_native.constData(), RENAME_NOREPLACE);
        if (renamed != 0 && !replaceExisting && errno == EINVAL) {
            // A filesystem without RENAME_NOREPLACE: link() refuses an existing name too.
            if (::link(temporary.constData(), m_native.constData()) == 0) {
                ::unlink(temporary.constData());
                return 0;
            }
        }
        if (renamed != 0)
            code = WIMLIB_ERR_RENAME;
    }
    if (code != 0) {
        const int saved = errno;
        ::unlink(temporary.constData());
        errno = saved;
    }
    return code;
}

int WimlibArchive::commit(int writeFlags, WimlibProgress *progress)
{
    if (!m_wim)
        return WIMLIB_ERR_INVALID_PARAM;
    if (progress)
        wimlib_register_progress_function(m_wim.get(), &WimlibProgress::forward, progress);
    int code;
    if (m_inMemoryOnly) {
        code = writeNewFile(writeFlags, false);
        if (code == 0)
            m_inMemoryOnly = false;
    } else {
        code = wimlib_overwrite(m_wim.get(), writeFlags, 0);
    }
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
    errno = error;
    return code;
}
