#include "imaging/wimlib_verify.h"

#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_media.h"
#include "imaging/wimlib_split_set.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr char kMemoryFolder[] = "/dev/shm";
constexpr decltype(statfs::f_type) kTmpfsMagic = 0x01021994;

// Errors that mean the archive does not hold what was written into it.
bool isDamage(int code)
{
    switch (code) {
    case WIMLIB_ERR_DECOMPRESSION:
    case WIMLIB_ERR_INVALID_RESOURCE_HASH:
    case WIMLIB_ERR_INVALID_CHUNK_SIZE:
    case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
    case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
    case WIMLIB_ERR_METADATA_NOT_FOUND:
    case WIMLIB_ERR_RESOURCE_NOT_FOUND:
    case WIMLIB_ERR_UNEXPECTED_END_OF_FILE:
    case WIMLIB_ERR_READ: return true;
    default: return false;
    }
}

// Errors of the folder the search extracts into, not of the archive.
bool isTargetError(int code, int error)
{
    const bool writing = code == WIMLIB_ERR_MKDIR || code == WIMLIB_ERR_OPEN || code == WIMLIB_ERR_WRITE
                         || code == WIMLIB_ERR_LINK || code == WIMLIB_ERR_MKNOD;
    return writing
           && (error == ENOSPC || error == EDQUOT || error == EROFS || error == EACCES || error == EPERM
               || error == EIO);
}

}  // namespace

WimlibVerifier::WimlibVerifier(WIMStruct *archive, const QByteArray &path, const QString &temporaryFolder,
                               WimlibProgress &progress)
    : m_archive(archive), m_path(path), m_temporaryFolder(temporaryFolder), m_progress(progress)
{}

int WimlibVerifier::fail(int code, const QString &text)
{
    m_error = text;
    return code;
}

wimlib_progress_status WimlibVerifier::report(uint64_t done, uint64_t total)
{
    if (total == 0)
        return wimmedia::overall(m_progress, 0, 0);
    const uint64_t at = m_base + (m_end - m_base) * std::min(done, total) / total;
    m_reached = std::max(m_reached, at);
    return wimmedia::overall(m_progress, m_reached, 1000);
}

wimlib_progress_status WimlibVerifier::forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context)
{
    auto *self = static_cast<WimlibVerifier *>(context);
    switch (message) {
    case WIMLIB_PROGRESS_MSG_VERIFY_INTEGRITY:
        return self->report(info->integrity.completed_bytes, info->integrity.total_bytes);
    case WIMLIB_PROGRESS_MSG_VERIFY_STREAMS:
        return self->report(info->verify_streams.completed_bytes, info->verify_streams.total_bytes);
    case WIMLIB_PROGRESS_MSG_BEGIN_VERIFY_IMAGE: return self->report(0, 0);
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
        if (!self->m_searching)
            return WIMLIB_PROGRESS_STATUS_CONTINUE;
        return self->report(self->m_resolved + std::min(info->extract.completed_bytes, self->m_batchBytes),
                            self->m_searchTotal);
    default: return WIMLIB_PROGRESS_STATUS_CONTINUE;
    }
}

int WimlibVerifier::open(WIMStruct **wim, int openFlags)
{
    *wim = nullptr;
    WIMStruct *opened = nullptr;
    if (const int code = wimlib_open_wim_with_progress(m_path.constData(), openFlags, &opened, &forward, this))
        return fail(code, wimlibErrorText(QStringLiteral("cannot open %1").arg(QFile::decodeName(m_path)), code));
    const wimsplit::Problem problem = wimsplit::attachParts(opened, QFile::decodeName(m_path), openFlags);
    if (problem.code != 0) {
        wimlib_free(opened);
        m_systemError = problem.systemError;
        return fail(problem.code, problem.text);
    }
    *wim = opened;
    return 0;
}

int WimlibVerifier::run(ImagingVerifyResult *result)
{
    *result = ImagingVerifyResult{};
    // Without an integrity table the archive's own WIMStruct serves; wimlib
    // checks a table only while it opens the file: the first half.
    wimlib_wim_info info{};
    wimlib_get_wim_info(m_archive, &info);
    WimlibPtr opened;
    WIMStruct *wim = m_archive;
    int code = 0;
    if (info.has_integrity_table) {
        m_base = 0;
        m_end = 500;
        result->integrityChecked = true;
        WIMStruct *raw = nullptr;
        code = open(&raw, WIMLIB_OPEN_FLAG_CHECK_INTEGRITY);
        if (code == WIMLIB_ERR_INTEGRITY) {
            result->otherDamage << QStringLiteral("the integrity table does not match the archive's contents");
            code = open(&raw, 0);
        }
        if (code != 0)
            return code;
        opened.reset(raw);
        wim = raw;
    }
    wimlib_register_progress_function(wim, &forward, this);
    const auto unregister = qScopeGuard([wim] { wimlib_register_progress_function(wim, nullptr, nullptr); });

    m_base = m_reached;
    m_end = 1000;
    code = wimlib_verify_wim(wim, 0);
    if (code == 0) {
        result->whole = result->otherDamage.isEmpty();
        return 0;
    }
    if (!isDamage(code))
        return fail(code, wimlibErrorText(QStringLiteral("cannot check %1").arg(QFile::decodeName(m_path)), code));

    m_base = m_reached;
    if (const int searched = search(wim, result))
        return searched;
    if (result->damaged.isEmpty() && result->otherDamage.isEmpty())
        result->otherDamage << wimlibErrorText(QStringLiteral("damaged data that no image's file holds"), code);
    return 0;
}

int WimlibVerifier::collect(const wimlib_dir_entry *entry, void *context)
{
    auto *self = static_cast<WimlibVerifier *>(context);
    // A directory's own data (a junction's target) would extract its whole tree.
    if (entry->attributes & WIMLIB_FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    const wimlib_resource_entry &resource = entry->streams[0].resource;
    if (resource.uncompressed_size == 0 && !resource.is_missing)
        return 0;
    const QByteArray hash(reinterpret_cast<const char *>(resource.sha1_hash), sizeof resource.sha1_hash);
    int index = self->m_blobIndex.value(hash, -1);
    if (index < 0) {
        index = int(self->m_blobs.size());
        self->m_blobIndex.insert(hash, index);
        Blob blob;
        blob.firstPath = QByteArray(entry->full_path);
        blob.image = self->m_image;
        blob.size = resource.uncompressed_size;
        blob.missing = resource.is_missing;
        // Extracting in the archive's order reads each solid chunk once.
        blob.order[0] = resource.part_number;
        blob.order[1] = resource.packed ? resource.raw_resource_offset_in_wim : resource.offset;
        blob.order[2] = resource.packed ? resource.offset : 0;
        self->m_blobs.push_back(std::move(blob));
    }
    self->m_blobs[size_t(index)].files.append({self->m_image, QString::fromUtf8(entry->full_path)});
    return 0;
}

int WimlibVerifier::search(WIMStruct *wim, ImagingVerifyResult *result)
{
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim, &info);
    for (uint32_t image = 1; image <= info.image_count; ++image) {
        m_image = image;
        const int code =
            wimlib_iterate_dir_tree(wim, int(image), "/", WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, &collect, this);
        if (code != 0 && !isDamage(code))
            return fail(code, wimlibErrorText(QStringLiteral("cannot list image %1").arg(image), code));
        if (code != 0)
            result->damaged.append({image, QString()});
        if (wimmedia::overall(m_progress, 0, 0) == WIMLIB_PROGRESS_STATUS_ABORT)
            return fail(WIMLIB_ERR_ABORTED_BY_PROGRESS, QStringLiteral("aborted"));
    }

    std::map<uint32_t, std::vector<int>> byImage;
    for (int i = 0; i < int(m_blobs.size()); ++i) {
        const Blob &blob = m_blobs[size_t(i)];
        if (blob.missing)
            result->damaged.append(blob.files);
        else {
            byImage[blob.image].push_back(i);
            m_searchTotal += blob.size;
        }
    }
    std::vector<std::pair<uint32_t, std::vector<int>>> batches;
    for (auto &[image, blobs] : byImage) {
        std::sort(blobs.begin(), blobs.end(), [this](int a, int b) {
            return std::lexicographical_compare(
                std::begin(m_blobs[size_t(a)].order), std::end(m_blobs[size_t(a)].order),
                std::begin(m_blobs[size_t(b)].order), std::end(m_blobs[size_t(b)].order));
        });
        uint64_t bytes = kBatchBytes;
        for (const int blob : blobs) {
            if (bytes >= kBatchBytes) {
                batches.emplace_back(image, std::vector<int>());
                bytes = 0;
            }
            batches.back().second.push_back(blob);
            bytes += m_blobs[size_t(blob)].size;
        }
    }
    // One batch holding all the data the images name fails for sure unless
    // the damage lies elsewhere, and then its parts cost what it would.
    const bool knownToFail = batches.size() == 1 && result->damaged.isEmpty();
    m_searching = true;
    for (auto &[image, blobs] : batches) {
        if (const int code = check(wim, image, std::move(blobs), knownToFail, result))
            return code;
    }
    std::sort(result->damaged.begin(), result->damaged.end(),
              [](const auto &a, const auto &b) { return a.image != b.image ? a.image < b.image : a.path < b.path; });
    result->damaged.erase(std::unique(result->damaged.begin(), result->damaged.end()), result->damaged.end());
    return 0;
}

QString WimlibVerifier::scratchFolder(uint64_t bytes)
{
    if (bytes > kBatchBytes)
        return m_temporaryFolder;
    struct statfs fs;
    if (::statfs(kMemoryFolder, &fs) != 0 || fs.f_type != kTmpfsMagic || ::access(kMemoryFolder, W_OK | X_OK) != 0)
        return m_temporaryFolder;
    // Room for the batch, with as much again left for everyone else.
    const uint64_t room = uint64_t(fs.f_bavail) * uint64_t(fs.f_bsize);
    return room / 2 >= bytes ? QString::fromLatin1(kMemoryFolder) : m_temporaryFolder;
}

int WimlibVerifier::check(WIMStruct *wim, uint32_t image, std::vector<int> blobs, bool knownToFail,
                          ImagingVerifyResult *result)
{
    if (knownToFail && blobs.size() > 1)
        return checkParts(wim, image, blobs, result);
    uint64_t bytes = 0;
    std::vector<const char *> paths;
    for (const int i : blobs) {
        bytes += m_blobs[size_t(i)].size;
        paths.push_back(m_blobs[size_t(i)].firstPath.constData());
    }
    int code;
    int error;
    QString folder;
    {
        folder = scratchFolder(bytes);
        QTemporaryDir target(folder + QStringLiteral("/.pellwick-verify-XXXXXX"));
        if (!target.isValid()) {
            m_systemError = errno;
            return fail(WIMLIB_ERR_MKDIR,
                        QStringLiteral("cannot make a temporary folder in %1: %2").arg(folder, target.errorString()));
        }
        m_batchBytes = bytes;
        errno = 0;
        code = wimlib_extract_paths(wim, int(image), QFile::encodeName(target.path()).constData(), paths.data(),
                                    paths.size(), WIMLIB_EXTRACT_FLAG_NORPFIX);
        error = errno;
    }
    if (code == WIMLIB_ERR_ABORTED_BY_PROGRESS || code == WIMLIB_ERR_NOMEM)
        return fail(code, wimlibErrorText(QStringLiteral("the search for damaged files stopped"), code));
    // Less room than a batch needs is worth halving; no room for one file is not.
    if (code != 0 && isTargetError(code, error) && (blobs.size() == 1 || (error != ENOSPC && error != EDQUOT))) {
        m_systemError = error;
        return fail(code, QStringLiteral("cannot extract into the temporary folder %1: %2")
                              .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
    }
    if (code != 0 && blobs.size() > 1)
        return checkParts(wim, image, blobs, result);
    if (code != 0) {
        const Blob &blob = m_blobs[size_t(blobs.front())];
        if (isDamage(code))
            result->damaged.append(blob.files);
        else
            result->otherDamage << wimlibErrorText(
                QStringLiteral("image %1, %2 could not be checked").arg(image).arg(QString::fromUtf8(blob.firstPath)),
                code);
    }
    m_resolved += bytes;
    if (report(m_resolved, m_searchTotal) == WIMLIB_PROGRESS_STATUS_ABORT)
        return fail(WIMLIB_ERR_ABORTED_BY_PROGRESS, QStringLiteral("aborted"));
    return 0;
}

int WimlibVerifier::checkParts(WIMStruct *wim, uint32_t image, const std::vector<int> &blobs,
                               ImagingVerifyResult *result)
{
    const size_t parts = std::min(kParts, blobs.size());
    for (size_t part = 0; part < parts; ++part) {
        const auto from = blobs.begin() + std::ptrdiff_t(blobs.size() * part / parts);
        const auto to = blobs.begin() + std::ptrdiff_t(blobs.size() * (part + 1) / parts);
        if (const int code = check(wim, image, std::vector<int>(from, to), false, result))
            return code;
    }
    return 0;
}
