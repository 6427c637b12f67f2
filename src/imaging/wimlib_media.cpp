// The backend's calls on whole archive files: split, verify, optimize.
#include "imaging/wimlib_media.h"

#include "imaging/locked_temporary_file.h"
#include "imaging/split_parts.h"
#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_verify.h"
#include "imaging/wimlib_work_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Kind = ImagingError::Kind;

namespace wimmedia {

wimlib_progress_status overall(WimlibProgress &progress, uint64_t done, uint64_t total)
{
    wimlib_progress_info info{};
    info.write_streams.completed_bytes = done;
    info.write_streams.total_bytes = total;
    return WimlibProgress::forward(WIMLIB_PROGRESS_MSG_WRITE_STREAMS, &info, &progress);
}

}  // namespace wimmedia

namespace {

QString callText(const char *call, const QString &what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call), what);
}

// What a failed wimlib call that wrote or read files means to the caller.
Kind kindOf(int code, int error, bool aborted)
{
    if (aborted || code == WIMLIB_ERR_ABORTED_BY_PROGRESS)
        return Kind::Aborted;
    switch (error) {
    case ENOSPC:
    case EDQUOT: return Kind::NoSpace;
    case EACCES:
    case EPERM: return Kind::AccessDenied;
    case EROFS: return Kind::ReadOnlyFileSystem;
    case ENOENT: return Kind::NotFound;
    default: return Kind::Other;
    }
}

// The errno that goes with a wimlib error code, when it is a file's.
int systemErrorOf(int code)
{
    switch (code) {
    case WIMLIB_ERR_OPEN:
    case WIMLIB_ERR_READ:
    case WIMLIB_ERR_WRITE:
    case WIMLIB_ERR_RENAME:
    case WIMLIB_ERR_MKDIR: return errno;
    default: return 0;
    }
}

// Where the parts of a split go while it runs, and the progress of the whole
// set (wimlib reports each part's write from 0). Each part is written under a
// locked temporary name beside its own (see LockedTemporaryFile), so that a
// killed split leaves nothing a later write into that folder does not remove.
class SplitRun
{
public:
    SplitRun(WimlibProgress &progress, const QString &archive) : m_progress(progress), m_archive(archive) {}

    static wimlib_progress_status forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context)
    {
        return static_cast<SplitRun *>(context)->handle(message, info);
    }

    // Puts the written parts in place, on disk first, so that the first
    // part's name always leads to the old set, to nothing, or to the whole
    // new one: the old first part goes, then the other parts take their
    // names, the first part last; the old set's parts beyond the new count go
    // at the end. False and errno when that fails: the new parts that were
    // renamed already are removed again.
    bool putInPlace()
    {
        for (const auto &temporary : m_temporaries) {
            if (::fsync(temporary->fd()) != 0)
                return false;
        }
        const QByteArray &first = m_finals.front();
        const OldSet old = oldSetAt(first);
        if (m_finals.size() > 1 && ::unlink(first.constData()) != 0 && errno != ENOENT)
            return false;
        for (size_t i = 1; i <= m_finals.size(); ++i) {
            const size_t part = i % m_finals.size();  // 1, 2, ..., then 0: the first part
            if (part == 0)
                LockedTemporaryFile::syncFolder(first);
            if (::rename(m_temporaries[part]->path().constData(), m_finals[part].constData()) != 0) {
                const int error = errno;
                for (size_t j = 1; j < i; ++j)
                    ::unlink(m_finals[j].constData());
                errno = error;
                return false;
            }
            m_temporaries[part]->renamed();
        }
        LockedTemporaryFile::syncFolder(first);
        for (unsigned number = unsigned(m_finals.size()) + 1; number <= old.parts; ++number) {
            const QByteArray part = QFile::encodeName(splitparts::partPath(QFile::decodeName(first), number));
            if (oldSetAt(part).guid == old.guid)
                ::unlink(part.constData());
        }
        return true;
    }

    bool overwritesArchive() const { return m_overwritesArchive; }
    int systemError() const { return m_systemError; }
    unsigned parts() const { return unsigned(m_finals.size()); }

private:
    // The split set whose part a file is: its GUID and part count, none when
    // it is not a part.
    struct OldSet {
        QByteArray guid;
        unsigned parts = 0;
    };
    static OldSet oldSetAt(const QByteArray &path)
    {
        struct stat st;
        WIMStruct *wim = nullptr;
        if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode) || wimlib_open_wim(path.constData(), 0, &wim))
            return {};
        wimlib_wim_info info{};
        wimlib_get_wim_info(wim, &info);
        wimlib_free(wim);
        if (info.total_parts <= 1)
            return {};
        return {QByteArray(reinterpret_cast<const char *>(info.guid), WIMLIB_GUID_LEN), info.total_parts};
    }

    wimlib_progress_status handle(wimlib_progress_msg message, wimlib_progress_info *info)
    {
        switch (message) {
        case WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART: {
            m_partStart = info->split.completed_bytes;
            m_total = info->split.total_bytes;
            const QByteArray final = info->split.part_name;
            if (QFileInfo(QFile::decodeName(final)).absoluteFilePath() == m_archive) {
                m_overwritesArchive = true;
                return WIMLIB_PROGRESS_STATUS_ABORT;
            }
            auto temporary = std::make_unique<LockedTemporaryFile>();
            if (!temporary->create(final)) {
                m_systemError = errno;
                return WIMLIB_PROGRESS_STATUS_ABORT;
            }
            m_finals.push_back(final);
            m_temporaries.push_back(std::move(temporary));
            // wimlib writes the part under whatever name this points to now.
            info->split.part_name = const_cast<char *>(m_temporaries.back()->path().constData());
            return wimmedia::overall(m_progress, m_partStart, m_total);
        }
        case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
            return wimmedia::overall(m_progress, m_partStart + info->write_streams.completed_bytes, m_total);
        case WIMLIB_PROGRESS_MSG_SPLIT_END_PART:
            return wimmedia::overall(m_progress, info->split.completed_bytes, m_total);
        default: return WIMLIB_PROGRESS_STATUS_CONTINUE;
        }
    }

    WimlibProgress &m_progress;
    const QString m_archive;
    std::vector<QByteArray> m_finals;
    std::vector<std::unique_ptr<LockedTemporaryFile>> m_temporaries;  // removed unless renamed
    uint64_t m_partStart = 0;
    uint64_t m_total = 0;
    bool m_overwritesArchive = false;
    int m_systemError = 0;
};

constexpr int kHashLength = 20;  // SHA-1

// A resource of the archive as wimlib_split places it.
struct SplitBlob {
    uint64_t bytes = 0;
    uint32_t part = 0;  // in the archive it is read from
    uint64_t offset = 0;
    QByteArray hash;
    bool metadata = false;
    bool solid = false;
};

int collectBlob(const wimlib_resource_entry *entry, void *context)
{
    static_cast<std::vector<SplitBlob> *>(context)->push_back(
        {entry->compressed_size, entry->part_number, entry->offset,
         QByteArray(reinterpret_cast<const char *>(entry->sha1_hash), kHashLength), bool(entry->is_metadata),
         bool(entry->packed)});
    return 0;
}

// The first name of each sought data, by its hash.
struct NameSearch {
    QHash<QByteArray, ImagingOversizedFile *> wanted;
    uint32_t image = 0;
};

int nameBlobs(const wimlib_dir_entry *entry, void *context)
{
    auto *search = static_cast<NameSearch *>(context);
    for (uint32_t i = 0; i <= entry->num_named_streams; ++i) {
        const wimlib_resource_entry &resource = entry->streams[i].resource;
        const auto found =
            search->wanted.constFind(QByteArray(reinterpret_cast<const char *>(resource.sha1_hash), kHashLength));
        if (found == search->wanted.cend() || (*found)->image != 0)
            continue;
        (*found)->image = search->image;
        (*found)->path = QString::fromUtf8(entry->full_path);
        if (i > 0)
            (*found)->path += QLatin1Char(':') + QString::fromUtf8(entry->streams[i].stream_name);
    }
    return 0;
}

}  // namespace

bool WimlibBackend::WIMSplitOversizedFiles(HWIM wim, uint64_t partSize, QList<ImagingOversizedFile> *files)
{
    static const char call[] = "WIMSplitOversizedFiles";
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    if (!files || partSize == 0)
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("the part size must be above 0")));
    if (!archive->mayRead())
        return failWith(Kind::AccessDenied, 0,
                        callText(call, QStringLiteral("the archive is open without read access")));
    if (!archive->existsOnDisk())
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("the archive is not written yet")));
    if (archive->snapshot()->totalParts > 1)
        return failWith(Kind::Unsupported, 0,
                        callText(call, QStringLiteral("%1 is split already").arg(archive->path())));

    WorkLock lock(*archive);
    if (!readyForCall(*archive, lock, call, ArchiveUse::Read))
        return false;
    WIMStruct *w = archive->wim();
    std::vector<SplitBlob> blobs;
    if (const int code = wimlib_iterate_lookup_table(w, 0, collectBlob, &blobs))
        return failWith(kindOf(code, systemErrorOf(code), false), systemErrorOf(code),
                        callText(call, wimlibErrorText(QStringLiteral("cannot read %1").arg(archive->path()), code)));
    if (std::any_of(blobs.cbegin(), blobs.cend(), [](const SplitBlob &blob) { return blob.solid; }))
        return failWith(
            Kind::Unsupported, 0,
            callText(call,
                     QStringLiteral("%1 holds solid resources (ESD), which cannot be split").arg(archive->path())));
    // As wimlib_split places them: the images' metadata first, then the file
    // data in the order it lies in the archive; a part ends before data that
    // would make it reach the size, unless the part is empty or the data is
    // metadata. So only a part of one file's data, or the first part with the
    // metadata, can be larger than asked.
    std::stable_sort(blobs.begin(), blobs.end(), [](const SplitBlob &a, const SplitBlob &b) {
        if (a.metadata != b.metadata)
            return a.metadata;
        return a.metadata ? false : std::tie(a.part, a.offset) < std::tie(b.part, b.offset);
    });
    struct Part {
        uint64_t bytes = 0;
        const SplitBlob *largest = nullptr;
    };
    std::vector<Part> parts;
    for (const SplitBlob &blob : blobs) {
        if (parts.empty() || (parts.back().bytes + blob.bytes >= partSize && !blob.metadata && parts.back().bytes != 0))
            parts.emplace_back();
        parts.back().bytes += blob.bytes;
        if (!parts.back().largest || blob.bytes > parts.back().largest->bytes)
            parts.back().largest = &blob;
    }
    QList<ImagingOversizedFile> found;
    NameSearch search;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].bytes > partSize)
            found.append({uint32_t(i + 1), parts[i].largest->bytes, 0, QString()});
    }
    for (qsizetype i = 0; i < found.size(); ++i) {
        const SplitBlob *blob = parts[found[i].part - 1].largest;
        if (!blob->metadata)
            search.wanted.insert(blob->hash, &found[i]);
    }
    const int images = int(archive->snapshot()->imageCount);
    for (int image = 1; image <= images && !search.wanted.isEmpty(); ++image) {
        search.image = uint32_t(image);
        if (const int code =
                wimlib_iterate_dir_tree(w, image, "/", WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, nameBlobs, &search)) {
            archive->discard();
            return failWith(
                kindOf(code, systemErrorOf(code), false), systemErrorOf(code),
                callText(call,
                         wimlibErrorText(QStringLiteral("cannot read image %1 of %2").arg(image).arg(archive->path()),
                                         code)));
        }
    }
    // The images' metadata is in memory now: read the archive again on its next use.
    if (!search.wanted.isEmpty())
        archive->discard();
    *files = std::move(found);
    return true;
}

bool WimlibBackend::WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags)
{
    static const char call[] = "WIMSplitFile";
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    if (!archive->mayRead())
        return failWith(Kind::AccessDenied, 0,
                        callText(call, QStringLiteral("the archive is open without read access")));
    if (flags != 0 || partSize == 0)
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("the part size must be above 0 and flags 0")));
    const QFileInfo first(firstPart);
    if (firstPart.isEmpty() || first.isDir() || !first.absoluteDir().exists())
        return failWith(Kind::NotFound, ENOENT,
                        callText(call, QStringLiteral("%1 is not a file name in an existing folder").arg(firstPart)));
    if (!archive->existsOnDisk())
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("the archive is not written yet")));
    const QString own = QFileInfo(archive->path()).canonicalFilePath();
    if (archive->snapshot()->totalParts > 1)
        return failWith(Kind::Unsupported, 0, callText(call, QStringLiteral("%1 is split already").arg(own)));

    WimlibProgress progress(m_callbacks.current(), firstPart);
    {
        WorkLock lock(*archive);
        if (!readyForCall(*archive, lock, call, ArchiveUse::Read))
            return false;

        SplitRun run(progress, own);
        WIMStruct *w = archive->wim();
        wimlib_register_progress_function(w, &SplitRun::forward, &run);
        const QByteArray name = QFile::encodeName(first.absoluteFilePath());
        int code = wimlib_split(w, name.constData(), partSize, 0);
        int error = systemErrorOf(code);
        wimlib_register_progress_function(w, nullptr, nullptr);
        // Read the archive again on its next use rather than rely on what
        // wimlib_split leaves in the WIMStruct.
        archive->discard();
        if (code == 0 && !run.putInPlace()) {
            code = WIMLIB_ERR_RENAME;
            error = errno;
        }
        if (code != 0) {
            if (run.overwritesArchive())
                return failWith(Kind::WouldOverwriteArchive, 0,
                                callText(call, QStringLiteral("a part would be written over %1 itself").arg(own)));
            if (code == WIMLIB_ERR_UNSUPPORTED)
                return failWith(Kind::Unsupported, 0,
                                callText(call, QStringLiteral("%1 holds solid resources (ESD), which cannot be "
                                                              "split: export it as a WIM first")
                                                   .arg(own)));
            // A part that could not be made stops wimlib through the progress
            // function: it is that part's failure, not an abort.
            if (run.systemError() != 0) {
                error = run.systemError();
                code = WIMLIB_ERR_OPEN;
            }
            const bool aborted = progress.aborted();
            const QString what = QStringLiteral("cannot split %1 into %2").arg(own, firstPart);
            return failWith(kindOf(code, error, aborted), error,
                            callText(call, aborted                  ? QStringLiteral("aborted; no part was left behind")
                                           : run.systemError() != 0 ? QStringLiteral("%1: %2").arg(
                                                 what, QString::fromLocal8Bit(std::strerror(error)))
                                                                    : wimlibErrorText(what, code)));
        }
    }
    progress.finish();
    return true;
}

bool WimlibBackend::WIMVerifyFile(HWIM wim, ImagingVerifyResult *result)
{
    static const char call[] = "WIMVerifyFile";
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    if (!result)
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("nowhere to put the result")));
    if (!archive->mayRead())
        return failWith(Kind::AccessDenied, 0,
                        callText(call, QStringLiteral("the archive is open without read access")));
    if (!archive->existsOnDisk())
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("the archive is not written yet")));
    QString folder = archive->temporaryPath();
    if (folder.isEmpty())
        folder = QDir::tempPath();

    WimlibProgress progress(m_callbacks.current(), archive->path());
    ImagingVerifyResult found;
    {
        WorkLock lock(*archive);
        if (!readyForCall(*archive, lock, call, ArchiveUse::Read))
            return false;
        WimlibVerifier verifier(archive->wim(), QFile::encodeName(archive->path()), folder, progress);
        const int code = verifier.run(&found);
        // Every image's metadata is in memory now: read the archive again on
        // its next use instead of keeping it.
        archive->discard();
        if (code != 0) {
            const bool aborted = progress.aborted() || code == WIMLIB_ERR_ABORTED_BY_PROGRESS;
            return failWith(kindOf(code, verifier.systemError(), aborted), verifier.systemError(),
                            callText(call, aborted ? QStringLiteral("aborted") : verifier.errorText()));
        }
    }
    progress.finish();
    *result = std::move(found);
    return true;
}

bool WimlibBackend::WIMOptimizeFile(HWIM wim)
{
    static const char call[] = "WIMOptimizeFile";
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    if (!archive->mayWrite())
        return failWith(Kind::ArchiveReadOnly, 0,
                        callText(call, QStringLiteral("the archive is open without write access")));
    if (!archive->existsOnDisk())
        return failWith(Kind::Other, 0, callText(call, QStringLiteral("the archive is not written yet")));
    if (archive->snapshot()->totalParts > 1)
        return failWith(Kind::Unsupported, 0, callText(call, QStringLiteral("a split set cannot be rebuilt")));

    WimlibProgress progress(m_callbacks.current(), archive->path());
    {
        WorkLock lock(*archive);
        if (!readyForCall(*archive, lock, call, ArchiveUse::Change))
            return false;
        // As wimlib-imagex optimize: the same archive, so the same GUID; on
        // disk before the rename.
        const int code = archive->rebuild(WIMLIB_WRITE_FLAG_RETAIN_GUID | WIMLIB_WRITE_FLAG_FSYNC, &progress);
        if (code == WimlibArchive::kChangedOnDisk)
            return failWith(Kind::ChangedOnDisk, 0,
                            callText(call, QStringLiteral("%1 was changed by another program meanwhile; it has been "
                                                          "read again and is as it was")
                                               .arg(archive->path())));
        if (code != 0) {
            const int systemError = systemErrorOf(code);
            const bool aborted = progress.aborted();
            return failWith(
                kindOf(code, systemError, aborted), systemError,
                callText(call,
                         aborted ? QStringLiteral("aborted; the archive is as it was")
                                 : wimlibErrorText(
                                     QStringLiteral("cannot rebuild %1; it is as it was").arg(archive->path()), code)));
        }
    }
    progress.finish();
    return true;
}
