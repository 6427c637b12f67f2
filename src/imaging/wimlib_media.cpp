// The backend's calls on whole archive files: split, verify, optimize.
#include "imaging/wimlib_media.h"

#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_verify.h"
#include "imaging/wimlib_work_lock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using Kind = ImagingError::Kind;

namespace wimmedia {

wimlib_progress_status overall(WimlibProgress &progress, uint64_t done, uint64_t total)
{
    wimlib_progress_info info {};
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
    case EDQUOT:
        return Kind::NoSpace;
    case EACCES:
    case EPERM:
        return Kind::AccessDenied;
    case EROFS:
        return Kind::ReadOnlyFileSystem;
    case ENOENT:
        return Kind::NotFound;
    default:
        return Kind::Other;
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
    case WIMLIB_ERR_MKDIR:
        return errno;
    default:
        return 0;
    }
}

// Where the parts of a split go while it runs, and the progress of the whole
// set (wimlib reports each part's write from 0).
class SplitRun
{
public:
    SplitRun(WimlibProgress &progress, const QString &archive) : m_progress(progress), m_archive(archive) {}
    ~SplitRun()
    {
        for (const QByteArray &temporary : m_temporaries)
            ::unlink(temporary.constData());
    }

    static wimlib_progress_status forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context)
    {
        return static_cast<SplitRun *>(context)->handle(message, info);
    }

    // Gives every part its own name, replacing what was there. False and
    // errno when a rename fails: the parts not yet renamed are removed.
    bool rename()
    {
        for (size_t i = 0; i < m_temporaries.size(); ++i) {
            if (::rename(m_temporaries[i].constData(), m_finals[i].constData()) != 0) {
                const int error = errno;
                for (size_t j = 0; j < i; ++j)
                    ::unlink(m_finals[j].constData());
                errno = error;
                return false;
            }
            m_temporaries[i].clear();
        }
        m_temporaries.clear();
        return true;
    }

    bool overwritesArchive() const { return m_overwritesArchive; }
    int systemError() const { return m_systemError; }
    unsigned parts() const { return unsigned(m_finals.size()); }

private:
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
            const QByteArray temporary = reserve(final);
            if (temporary.isEmpty())
                return WIMLIB_PROGRESS_STATUS_ABORT;
            m_finals.push_back(final);
            m_temporaries.push_back(temporary);
            // wimlib writes the part under whatever name this points to now.
            info->split.part_name = m_temporaries.back().data();
            return wimmedia::overall(m_progress, m_partStart, m_total);
        }
        case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
            return wimmedia::overall(m_progress, m_partStart + info->write_streams.completed_bytes, m_total);
        case WIMLIB_PROGRESS_MSG_SPLIT_END_PART:
            return wimmedia::overall(m_progress, info->split.completed_bytes, m_total);
        default:
            return WIMLIB_PROGRESS_STATUS_CONTINUE;
        }
    }

    // A new empty file beside `final`, named after it.
    QByteArray reserve(const QByteArray &final)
    {
        const QFileInfo target(QFile::decodeName(final));
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray name = QFile::encodeName(QStringLiteral("%1/.%2.new-%3")
                                                          .arg(target.absolutePath(), target.fileName())
                                                          .arg(QRandomGenerator::global()->generate64(), 0, 36));
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                return name;
            }
            if (errno != EEXIST)
                break;
        }
        m_systemError = errno;
        return {};
    }

    WimlibProgress &m_progress;
    const QString m_archive;
    std::vector<QByteArray> m_finals;
    std::vector<QByteArray> m_temporaries;
    uint64_t m_partStart = 0;
    uint64_t m_total = 0;
    bool m_overwritesArchive = false;
    int m_systemError = 0;
};

}  // namespace

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
        if (code == 0 && !run.rename()) {
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
            if (run.systemError() != 0)
                error = run.systemError();
            const bool aborted = progress.aborted();
            return failWith(kindOf(code, error, aborted), error,
                            callText(call, aborted ? QStringLiteral("aborted; no part was left behind")
                                                   : wimlibErrorText(QStringLiteral("cannot split %1 into %2")
                                                                         .arg(own, firstPart),
                                                                     code)));
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
            return failWith(kindOf(code, systemError, aborted), systemError,
                            callText(call, aborted ? QStringLiteral("aborted; the archive is as it was")
                                                   : wimlibErrorText(QStringLiteral("cannot rebuild %1; it is as it was")
                                                                         .arg(archive->path()),
                                                                     code)));
        }
    }
    progress.finish();
    return true;
}
