#include "imaging/wimlib_backend.h"

#include "imaging/unwritable_names.h"

#include "imaging/wimlib_apply_guard.h"
#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_errors.h"
#include "imaging/wimlib_image_view.h"
#include "imaging/wimlib_last_error.h"
#include "imaging/wimlib_messages.h"
#include "imaging/wimlib_ntfs.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_reference.h"
#include "imaging/wimlib_split_set.h"
#include "imaging/wimlib_work_lock.h"
#include "imaging/wimlib_xml.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Kind = ImagingError::Kind;

bool fail(const ImagingError &error)
{
    return wimlibFail(error);
}

bool fail(Kind kind, const QString &text, int systemError = 0)
{
    return fail(ImagingError{kind, systemError, text});
}

// A failure that fits no kind of ours.
bool fail(const QString &text)
{
    return fail(Kind::Other, text);
}

QString callText(const char *call, const QString &what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call), what);
}

QString wimlibText(const char *call, const QString &what, int code)
{
    return wimlibErrorText(callText(call, what), code);
}

// A failed wimlib call, its kind told by the code and errno right after it.
bool failWimlib(const char *call, const QString &what, int code, int systemError)
{
    return fail(wimlibErrorKind(code, systemError), wimlibText(call, what, code), wimlibSystemError(code, systemError));
}

// A failed write (`what` names the archive or the apply's target): a full
// disk is said in words of its own, beside wimlib's generic write error.
bool failWrite(const char *call, const QString &what, int code, int systemError)
{
    const Kind kind = wimlibErrorKind(code, systemError);
    if (kind != Kind::NoSpace)
        return failWimlib(call, what, code, systemError);
    return fail(kind, wimlibText(call, QStringLiteral("%1: no space left on the device").arg(what), code),
                wimlibSystemError(code, systemError));
}

// A failed commit of `archive` (WimlibArchive::commit's result).
bool failCommit(const char *call, const WimlibArchive &archive, int code)
{
    if (code == WimlibArchive::kChangedOnDisk)
        return fail(Kind::ChangedOnDisk,
                    callText(call, QStringLiteral("%1 was changed by another program while this call ran; it has been "
                                                  "read again and nothing was written")
                                       .arg(archive.path())));
    return failWrite(call, QStringLiteral("cannot write %1").arg(archive.path()), code, archive.lastSystemError());
}

QString property(WIMStruct *wim, uint32_t image, const char *name)
{
    const wimlib_tchar *value = wimlib_get_image_property(wim, int(image), name);
    return value ? QString::fromUtf8(value) : QString();
}

// Sets the texts of an image in memory; *changed says whether any differed.
// keepWhereEmpty: an empty text leaves what the image holds (a new image's
// own), else it removes it. On failure the change is discarded and the
// failure recorded.
bool setTexts(WimlibArchive &archive, uint32_t image, const wimxml::EditableTexts &texts, bool keepWhereEmpty,
              const char *call, bool *changed)
{
    WIMStruct *wim = archive.wim();
    const std::pair<const char *, const QString *> wanted[] = {
        {"NAME", &texts.name},
        {"DESCRIPTION", &texts.description},
        {"FLAGS", &texts.flags},
        {"DISPLAYNAME", &texts.displayName},
        {"DISPLAYDESCRIPTION", &texts.displayDescription},
    };
    *changed = false;
    for (const auto &[name, value] : wanted) {
        if ((keepWhereEmpty && value->isEmpty()) || property(wim, image, name) == *value)
            continue;
        const QByteArray utf8 = value->toUtf8();
        const int code =
            wimlib_set_image_property(wim, int(image), name, value->isEmpty() ? nullptr : utf8.constData());
        if (code != 0) {
            archive.discard();
            const QString what = code == WIMLIB_ERR_IMAGE_NAME_COLLISION
                                     ? QStringLiteral("another image is named \"%1\"").arg(*value)
                                     : QStringLiteral("cannot set %1").arg(QLatin1String(name));
            return failWimlib(call, what, code, 0);
        }
        *changed = true;
    }
    return true;
}

// What every call that uses wim() checks once it holds the lock.
bool ready(WimlibArchive &archive, WorkLock &lock, const char *call, ArchiveUse use)
{
    return readyForCall(archive, lock, call, use);
}

bool writable(const WimlibArchive &archive, const char *call)
{
    return archive.mayWrite()
           || fail(Kind::ArchiveReadOnly, callText(call, QStringLiteral("the archive is open without write access")));
}

uint32_t imageCount(WIMStruct *wim)
{
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim, &info);
    return info.image_count;
}

// Writes a change that wimlib accepted in memory (code 0), or forgets it.
int commitOrDiscard(WimlibArchive &archive, int code, int writeFlags, WimlibProgress *progress)
{
    if (code != 0) {
        archive.discard();
        return code;
    }
    return archive.commit(writeFlags, progress);
}

// What writes of file data add for the handle's archive.
int dataWriteFlags(const WimlibArchive &archive)
{
    return (archive.flags() & WIM_FLAG_SOLID) ? WIMLIB_WRITE_FLAG_SOLID : 0;
}

bool notAFolder(const char *call, const QString &path)
{
    const bool exists = !path.isEmpty() && QFileInfo::exists(path);
    return fail(exists ? Kind::Other : Kind::NotFound, callText(call, QStringLiteral("%1 is not a folder").arg(path)),
                exists ? ENOTDIR : ENOENT);
}

// Refuses an apply that would write over the archive it reads from.
bool mayApplyInto(const WimlibArchive &archive, uint32_t image, const QString &target, const char *call)
{
    struct stat own;
    if (::stat(QFile::encodeName(archive.path()).constData(), &own) != 0) {
        const int error = errno;
        return fail(systemErrorKind(error),
                    callText(call, QStringLiteral("the archive %1 is gone").arg(archive.path())), error);
    }
    QByteArray where;
    if (const int code = findArchiveInImage(archive.wim(), int(image), QFile::encodeName(target), own, &where))
        return failWimlib(call, QStringLiteral("cannot read image %1").arg(image), code, 0);
    if (where.isEmpty())
        return true;
    return fail(Kind::WouldOverwriteArchive,
                callText(call, QStringLiteral("applying image %1 to %2 would write %3 over the archive %4 itself")
                                   .arg(image)
                                   .arg(target, QFile::decodeName(where), archive.path())));
}

bool noSuchImage(const char *call, uint32_t index, uint32_t count)
{
    return fail(Kind::Other,
                callText(call, QStringLiteral("image %1 does not exist (the archive holds %2)").arg(index).arg(count)));
}

// Whether the archive as read now still holds image `index` (another
// program may have removed it); the failure is recorded when not.
bool holdsImage(WIMStruct *wim, uint32_t index, const char *call)
{
    const uint32_t count = imageCount(wim);
    return index <= count || noSuchImage(call, index, count);
}

// "add SOURCE PATH", "delete PATH", "rename OLD NEW": an update as its failure names it.
QString describe(const ImagingUpdate &update)
{
    switch (update.kind) {
    case ImagingUpdate::Kind::Add: return QStringLiteral("add %1 %2").arg(update.source, update.path);
    case ImagingUpdate::Kind::Delete: return QStringLiteral("delete %1").arg(update.path);
    case ImagingUpdate::Kind::Rename: return QStringLiteral("rename %1 %2").arg(update.path, update.newPath);
    }
    return {};
}

QByteArray imagePath(const QString &path)
{
    return path.isEmpty() ? QByteArrayLiteral("/") : path.toUtf8();
}

// Knows which update wimlib is making, so that its failure can be named.
struct UpdateProgress {
    WimlibProgress *progress;
    size_t current = 0;
    static wimlib_progress_status forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context)
    {
        auto *self = static_cast<UpdateProgress *>(context);
        if (message == WIMLIB_PROGRESS_MSG_UPDATE_BEGIN_COMMAND)
            self->current = info->update.completed_commands;
        return WimlibProgress::forward(message, info, self->progress);
    }
};

}  // namespace

WimlibBackend::WimlibBackend()
{
    static std::once_flag once;
    std::call_once(once, [] {
        wimlib_global_init(0);
        wimlibmessages::install();
    });
}

WimlibBackend::~WimlibBackend()
{
    std::lock_guard lock(m_handleMutex);
    m_handles.clear();
}

HWIM WimlibBackend::addHandle(std::shared_ptr<WimlibArchive> archive, uint32_t image)
{
    auto handle = std::make_shared<Handle>();
    handle->archive = std::move(archive);
    handle->image = image;
    if (image != 0)
        handle->view = std::make_shared<WimlibImageView>(handle->archive, image);
    const void *key = handle.get();
    std::lock_guard lock(m_handleMutex);
    m_handles.emplace(key, std::move(handle));
    // Never dereferenced as a WimObject: only compared and looked up.
    return reinterpret_cast<HWIM>(const_cast<void *>(key));
}

std::shared_ptr<const WimlibBackend::Handle> WimlibBackend::findHandle(HWIM handle) const
{
    std::lock_guard lock(m_handleMutex);
    const auto it = m_handles.find(reinterpret_cast<const void *>(handle));
    return it == m_handles.end() ? nullptr : it->second;
}

std::shared_ptr<WimlibArchive> WimlibBackend::archiveOf(HWIM wim, const char *call) const
{
    const auto handle = findHandle(wim);
    if (!handle || handle->image != 0) {
        fail(callText(call, handle ? QStringLiteral("an image handle where an archive handle is needed")
                                   : QStringLiteral("not an open archive handle")));
        return nullptr;
    }
    return handle->archive;
}

std::shared_ptr<const WimlibBackend::Handle> WimlibBackend::imageOf(HWIM image, const char *call) const
{
    auto handle = findHandle(image);
    if (!handle || handle->image == 0) {
        fail(callText(call, handle ? QStringLiteral("an archive handle where an image handle is needed")
                                   : QStringLiteral("not an open image handle")));
        return nullptr;
    }
    return handle;
}

std::shared_ptr<const WimlibBackend::Handle> WimlibBackend::writableImageOf(HWIM image, const char *call) const
{
    auto handle = imageOf(image, call);
    return handle && writable(*handle->archive, call) ? handle : nullptr;
}

HWIM WimlibBackend::WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                                  uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult)
{
    static const char call[] = "WIMCreateFile";
    if (path.isEmpty()) {
        fail(callText(call, QStringLiteral("no path")));
        return nullptr;
    }
    if (desiredAccess & ~WIM_GENERIC_READ_WRITE) {
        fail(callText(call, QStringLiteral("unknown access 0x%1").arg(desiredAccess, 0, 16)));
        return nullptr;
    }
    const bool exists = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    ImagingError error;
    std::shared_ptr<WimlibArchive> archive;
    bool created = false;
    switch (creationDisposition) {
    case WIM_OPEN_EXISTING:
        archive = WimlibArchive::open(path, desiredAccess, flagsAndAttributes & ~WIM_FLAG_SOLID, &error);
        break;
    case WIM_OPEN_ALWAYS:
        if (exists) {
            archive = WimlibArchive::open(path, desiredAccess, flagsAndAttributes & ~WIM_FLAG_SOLID, &error);
        } else {
            archive = WimlibArchive::create(path, compressionType, false, desiredAccess, flagsAndAttributes, &error);
            created = true;
        }
        break;
    case WIM_CREATE_NEW:
        if (exists) {
            error = {Kind::Other, EEXIST, QStringLiteral("%1 exists already").arg(path)};
            break;
        }
        archive = WimlibArchive::create(path, compressionType, true, desiredAccess, flagsAndAttributes, &error);
        created = true;
        break;
    case WIM_CREATE_ALWAYS:
        archive = WimlibArchive::create(path, compressionType, true, desiredAccess, flagsAndAttributes, &error);
        created = true;
        break;
    default:
        error = {Kind::Other, 0, QStringLiteral("unknown creation disposition %1").arg(creationDisposition)};
        break;
    }
    if (!archive) {
        // A split set that cannot be read says which part is at fault.
        if (creationDisposition == WIM_OPEN_EXISTING || (creationDisposition == WIM_OPEN_ALWAYS && exists)) {
            if (const auto problem = wimsplit::diagnose(path); problem.code != 0) {
                failWith(problem.systemError == ENOENT ? Kind::NotFound : Kind::Other, problem.systemError,
                         callText(call, problem.text));
                return nullptr;
            }
        }
        error.text = callText(call, error.text);
        fail(error);
        return nullptr;
    }
    if (creationResult)
        *creationResult = created ? WIM_CREATED_NEW : WIM_OPENED_EXISTING;
    return addHandle(std::move(archive), 0);
}

bool WimlibBackend::WIMCloseHandle(HWIM handle)
{
    std::shared_ptr<const Handle> closing;
    {
        std::lock_guard lock(m_handleMutex);
        const auto it = m_handles.find(reinterpret_cast<const void *>(handle));
        if (it == m_handles.end())
            return fail(callText("WIMCloseHandle", QStringLiteral("not an open handle")));
        closing = std::move(it->second);
        m_handles.erase(it);
    }
    // The last reference may free a WIMStruct: outside the table's lock.
    closing.reset();
    return true;
}

bool WimlibBackend::WIMSetTemporaryPath(HWIM wim, const QString &path)
{
    static const char call[] = "WIMSetTemporaryPath";
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    const QFileInfo folder(path);
    if (path.isEmpty() || !folder.isDir())
        return fail(Kind::NotFound, callText(call, QStringLiteral("%1 is not a folder").arg(path)), ENOTDIR);
    if (::access(QFile::encodeName(path).constData(), W_OK | X_OK) != 0) {
        const int error = errno;
        return fail(systemErrorKind(error), callText(call, QStringLiteral("%1 is not writable").arg(path)), error);
    }
    archive->setTemporaryPath(folder.absoluteFilePath());
    return true;
}

bool WimlibBackend::WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo)
{
    static const char call[] = "WIMGetAttributes";
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    if (!info || cbInfo < sizeof(WIM_INFO))
        return fail(callText(call, QStringLiteral("the record is too small")));
    const auto snapshot = archive->snapshot();
    std::memset(info, 0, sizeof(WIM_INFO));
    const QString &path = archive->path();
    const qsizetype length = std::min<qsizetype>(path.size(), qsizetype(std::size(info->WimPath)) - 1);
    std::memcpy(info->WimPath, path.utf16(), size_t(length) * sizeof(char16_t));
    const uint8_t *g = snapshot->guid;
    info->Guid.Data1 = uint32_t(g[0]) | uint32_t(g[1]) << 8 | uint32_t(g[2]) << 16 | uint32_t(g[3]) << 24;
    info->Guid.Data2 = uint16_t(g[4] | g[5] << 8);
    info->Guid.Data3 = uint16_t(g[6] | g[7] << 8);
    std::memcpy(info->Guid.Data4, g + 8, 8);
    info->ImageCount = snapshot->imageCount;
    info->CompressionType = snapshot->compression;
    info->PartNumber = snapshot->partNumber;
    info->TotalParts = snapshot->totalParts;
    info->BootIndex = snapshot->bootIndex;
    info->WimAttributes = snapshot->attributes;
    info->WimFlagsAndAttr = archive->flags();
    return true;
}

HWIM WimlibBackend::WIMLoadImage(HWIM wim, uint32_t index)
{
    static const char call[] = "WIMLoadImage";
    auto archive = archiveOf(wim, call);
    if (!archive)
        return nullptr;
    const uint32_t count = archive->snapshot()->imageCount;
    if (index < 1 || index > count) {
        noSuchImage(call, index, count);
        return nullptr;
    }
    return addHandle(std::move(archive), index);
}

bool WimlibBackend::WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount)
{
    static const char call[] = "WIMGetImageInformation";
    const auto handle = imageOf(image, call);
    if (!handle)
        return false;
    if (!xml)
        return fail(callText(call, QStringLiteral("nowhere to put the text")));
    const auto snapshot = handle->archive->snapshot();
    if (handle->image > uint32_t(snapshot->images.size()))
        return noSuchImage(call, handle->image, uint32_t(snapshot->images.size()));
    *xml = QChar(0xFEFF) + snapshot->images.at(qsizetype(handle->image) - 1);
    if (byteCount)
        *byteCount = uint32_t(xml->size() * 2);
    return true;
}

bool WimlibBackend::WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount)
{
    static const char call[] = "WIMSetImageInformation";
    const auto handle = writableImageOf(image, call);
    if (!handle)
        return false;
    WimlibArchive &archive = *handle->archive;
    const qsizetype length = std::min<qsizetype>(xml.size(), qsizetype(byteCount / 2));
    const auto texts = wimxml::editableTexts(xml.left(length));
    if (!texts)
        return fail(Kind::Other, callText(call, QStringLiteral("the text is not a well-formed <IMAGE> element")));

    WorkLock lock(archive);
    if (!ready(archive, lock, call, ArchiveUse::Change) || !holdsImage(archive.wim(), handle->image, call))
        return false;
    bool changed = false;
    if (!setTexts(archive, handle->image, *texts, false, call, &changed))
        return false;
    if (!changed)
        return true;
    if (const int code = archive.commit(0, nullptr))
        return failCommit(call, archive, code);
    return true;
}

HWIM WimlibBackend::WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags)
{
    return capture(wim, path, captureFlags, nullptr, "WIMCaptureImage");
}

HWIM WimlibBackend::WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags,
                                                   const QString &xml, uint32_t byteCount)
{
    static const char call[] = "WIMCaptureImageWithInformation";
    const qsizetype length = std::min<qsizetype>(xml.size(), qsizetype(byteCount / 2));
    const auto texts = wimxml::editableTexts(xml.left(length));
    if (!texts) {
        fail(Kind::Other, callText(call, QStringLiteral("the text is not a well-formed <IMAGE> element")));
        return nullptr;
    }
    return capture(wim, path, captureFlags, &*texts, call);
}

HWIM WimlibBackend::capture(HWIM wim, const QString &path, uint32_t captureFlags, const wimxml::EditableTexts *texts,
                            const char *call)
{
    const bool ntfs = captureFlags & WIM_FLAG_NTFS_VOLUME;
    auto archive = archiveOf(wim, call);
    if (!archive)
        return nullptr;
    if (!writable(*archive, call))
        return nullptr;
    if (ntfs) {
        if (ImagingError e = wimlibntfs::checkCaptureSource(path); e.kind != Kind::None) {
            e.text = callText(call, e.text);
            fail(e);
            return nullptr;
        }
    } else if (path.isEmpty() || !QFileInfo(path).isDir()) {
        notAFolder(call, path);
        return nullptr;
    }

    WimlibProgress progress(m_callbacks.current(), path);
    if (ntfs)
        progress.setNtfsVolume();
    progress.countScanTime();
    uint32_t newIndex = 0;
    {
        WorkLock lock(*archive);
        if (!ready(*archive, lock, call, ArchiveUse::Change))
            return nullptr;
        // A name in use is refused before minutes of reading, not after.
        if (texts && !texts->name.isEmpty()
            && wimlib_image_name_in_use(archive->wim(), texts->name.toUtf8().constData())) {
            fail(Kind::NameInUse, callText(call, QStringLiteral("another image is named \"%1\"").arg(texts->name)));
            return nullptr;
        }
        // A volume in NTFS-3G mode is not mounted read-write, so it cannot hold the archive being written.
        if (!ntfs && archive->existsOnDisk()) {
            const QString own = QFileInfo(archive->path()).canonicalFilePath();
            const QString root = QFileInfo(path).canonicalFilePath();
            if (root == QLatin1String("/"))
                progress.setOwnFile(QFile::encodeName(own.mid(1)));
            else if (!own.isEmpty() && !root.isEmpty() && own.startsWith(root + QLatin1Char('/')))
                progress.setOwnFile(QFile::encodeName(own.mid(root.size() + 1)));
        }

        WIMStruct *w = archive->wim();
        wimlib_register_progress_function(w, &WimlibProgress::forward, &progress);
        const QByteArray source = QFile::encodeName(path);
        errno = 0;
        wimlibmessages::clear();
        int code = wimlib_add_image(w, source.constData(), nullptr, nullptr,
                                    WIMLIB_ADD_FLAG_TEST_FILE_EXCLUSION | WIMLIB_ADD_FLAG_EXCLUDE_VERBOSE
                                        | (ntfs ? WIMLIB_ADD_FLAG_NTFS : 0));
        const int systemError = errno;
        newIndex = imageCount(w);
        const bool scanned = code == 0;
        if (scanned) {
            int recorded = 0;
            wimref::referenceAndRecord(w, newIndex, wimref::sourceOf(path), !(captureFlags & WIM_FLAG_FULL_READ),
                                       &recorded);
            if (recorded != 0) {
                archive->discard();
                failWimlib(call, QStringLiteral("cannot record the source of the image of %1").arg(path), recorded, 0);
                return nullptr;
            }
        }
        // The texts go into the same commit: no kill leaves the image without them.
        bool changed = false;
        if (scanned && texts && !setTexts(*archive, newIndex, *texts, true, call, &changed))
            return nullptr;
        code = commitOrDiscard(*archive, code, dataWriteFlags(*archive), &progress);
        if (code != 0) {
            if (progress.aborted())
                fail(Kind::Aborted, callText(call, QStringLiteral("aborted; the archive is as it was")));
            else if (ntfs && !scanned)
                fail(wimlibntfs::failure(callText(call, QStringLiteral("cannot capture %1").arg(path)), code,
                                         systemError, wimlibmessages::lastError()));
            else if (!scanned)
                failWimlib(call, QStringLiteral("cannot capture %1").arg(path), code, systemError);
            else
                failCommit(call, *archive, code);
            return nullptr;
        }
    }
    // Outside the lock: a callback may ask for the archive, which is read again now.
    progress.finish();
    return addHandle(std::move(archive), newIndex);
}

bool WimlibBackend::WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags)
{
    static const char call[] = "WIMApplyImage";
    // wimlib always verifies what it extracts: WIM_FLAG_VERIFY needs nothing more.
    const bool ntfs = applyFlags & WIM_FLAG_NTFS_VOLUME;
    const auto handle = imageOf(image, call);
    if (!handle)
        return false;
    WimlibArchive &archive = *handle->archive;
    if (!archive.mayRead())
        return fail(Kind::AccessDenied, callText(call, QStringLiteral("the archive is open without read access")));
    wimlibntfs::VolumeClaim claim;
    if (ntfs) {
        if (ImagingError e = wimlibntfs::claimApplyTarget(path, &claim); e.kind != Kind::None) {
            e.text = callText(call, e.text);
            return fail(e);
        }
    } else if (path.isEmpty() || !QFileInfo(path).isDir()) {
        return notAFolder(call, path);
    }

    WorkLock lock(archive);
    if (!ready(archive, lock, call, ArchiveUse::Read))
        return false;
    unwritablenames::Plan names;
    names.watchFirstRead(archive);
    if (!holdsImage(archive.wim(), handle->image, call))
        return false;
    ImagingError namesError;
    if (!names.prepare(archive, handle->image, {QStringLiteral("/")},
                       ntfs ? unwritablenames::NameLimit{255, true} : unwritablenames::limitOf(path), &namesError)) {
        namesError.text = callText(call, namesError.text);
        return fail(namesError);
    }
    // A volume in NTFS-3G mode is mounted nowhere, so it cannot hold the archive.
    if (!ntfs && !mayApplyInto(archive, handle->image, path, call)) {
        archive.discard();  // any renames with it
        return false;
    }
    // From here: what wimlib says of names it cannot write.
    wimlibmessages::clear();
    WIMStruct *wim = archive.wim();

    WimlibProgress progress(m_callbacks.current(), path);
    wimlib_register_progress_function(wim, &WimlibProgress::forward, &progress);
    const QByteArray target = QFile::encodeName(path);
    errno = 0;
    const int code =
        wimlib_extract_image(wim, int(handle->image), target.constData(),
                             (ntfs ? WIMLIB_EXTRACT_FLAG_NTFS : 0) | WIMLIB_EXTRACT_FLAG_REPLACE_INVALID_FILENAMES);
    const int systemError = errno;
    const QString lastError = wimlibmessages::lastError();
    wimlib_register_progress_function(wim, nullptr, nullptr);
    names.finish(archive, progress, path);
    lock.unlock();
    claim.reset();
    if (code != 0) {
        if (progress.aborted())
            return fail(Kind::Aborted,
                        callText(call, QStringLiteral("aborted; %1 may hold part of the image").arg(path)));
        const QString what = QStringLiteral("cannot apply image %1 to %2").arg(handle->image).arg(path);
        if (ntfs)
            return fail(wimlibntfs::failure(callText(call, what), code, systemError, lastError));
        return failWrite(call, what, code, systemError);
    }
    progress.finish();
    return true;
}

bool WimlibBackend::WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags)
{
    static const char call[] = "WIMExportImage";
    const auto handle = imageOf(image, call);
    if (!handle)
        return false;
    const auto destination = archiveOf(destinationWim, call);
    if (!destination)
        return false;
    WimlibArchive &source = *handle->archive;
    if (!source.mayRead())
        return fail(Kind::AccessDenied,
                    callText(call, QStringLiteral("the source archive is open without read access")));
    if (!writable(*destination, call))
        return false;

    WimlibProgress progress(m_callbacks.current(), destination->path());
    {
        // The destination refers to the source's data until it has been
        // written: both stay locked (and alive, through `handle`) until then.
        WorkLock lock(source, *destination);
        if (!ready(source, lock, call, ArchiveUse::Read) || !ready(*destination, lock, call, ArchiveUse::Change))
            return false;
        WIMStruct *from = source.wim();
        WIMStruct *to = destination->wim();
        if (!holdsImage(from, handle->image, call))
            return false;

        const QString name = property(from, handle->image, "NAME");
        QString newName = name;
        if (!name.isEmpty() && (exportFlags & WIM_EXPORT_ALLOW_DUPLICATES)) {
            for (int suffix = 2; wimlib_image_name_in_use(to, newName.toUtf8().constData()); ++suffix)
                newName = QStringLiteral("%1 (%2)").arg(name).arg(suffix);
        }
        const QByteArray newNameUtf8 = newName.toUtf8();
        // The source is read again on its next use anyway (a WIMStruct is not
        // kept across changes), so it may hand its data over instead of
        // copying it: unless it is the destination itself.
        const bool gift = &source != destination.get();
        errno = 0;
        int code =
            wimlib_export_image(from, int(handle->image), to, newName.isEmpty() ? nullptr : newNameUtf8.constData(),
                                nullptr, gift ? WIMLIB_EXPORT_FLAG_GIFT : 0);
        const int systemError = errno;
        const bool exported = code == 0;
        code = commitOrDiscard(*destination, code, dataWriteFlags(*destination), &progress);
        // The destination's WIMStruct is gone now; only then may the source's go.
        if (gift)
            source.discard();
        if (code != 0) {
            if (progress.aborted())
                return fail(Kind::Aborted, callText(call, QStringLiteral("aborted; the destination is as it was")));
            if (exported)
                return failCommit(call, *destination, code);
            return failWimlib(
                call, QStringLiteral("cannot export image %1 into %2").arg(handle->image).arg(destination->path()),
                code, systemError);
        }
    }
    progress.finish();
    return true;
}

bool WimlibBackend::WIMDeleteImage(HWIM wim, uint32_t index)
{
    static const char call[] = "WIMDeleteImage";
    const auto archive = archiveOf(wim, call);
    if (!archive || !writable(*archive, call))
        return false;
    WorkLock lock(*archive);
    if (!ready(*archive, lock, call, ArchiveUse::Change))
        return false;
    if (const uint32_t count = imageCount(archive->wim()); index < 1 || index > count)
        return noSuchImage(call, index, count);
    if (const int code = wimlib_delete_image(archive->wim(), int(index))) {
        archive->discard();
        return failWimlib(call, QStringLiteral("cannot delete image %1").arg(index), code, 0);
    }
    const int code = archive->commit(WIMLIB_WRITE_FLAG_SOFT_DELETE, nullptr);
    return code == 0 || failCommit(call, *archive, code);
}

bool WimlibBackend::WIMSetBootImage(HWIM wim, uint32_t index)
{
    static const char call[] = "WIMSetBootImage";
    const auto archive = archiveOf(wim, call);
    if (!archive || !writable(*archive, call))
        return false;
    WorkLock lock(*archive);
    if (!ready(*archive, lock, call, ArchiveUse::Change))
        return false;
    wimlib_wim_info info{};
    wimlib_get_wim_info(archive->wim(), &info);
    if (index > info.image_count)
        return noSuchImage(call, index, info.image_count);
    if (info.boot_index == index)
        return true;
    info.boot_index = index;
    if (const int code = wimlib_set_wim_info(archive->wim(), &info, WIMLIB_CHANGE_BOOT_INDEX)) {
        archive->discard();
        return failWimlib(call, QStringLiteral("cannot make image %1 the boot image").arg(index), code, 0);
    }
    const int code = archive->commit(0, nullptr);
    return code == 0 || failCommit(call, *archive, code);
}

bool WimlibBackend::WIMUpdateImage(HWIM image, const QList<ImagingUpdate> &updates)
{
    static const char call[] = "WIMUpdateImage";
    const auto handle = writableImageOf(image, call);
    if (!handle)
        return false;
    WimlibArchive &archive = *handle->archive;
    const auto failUpdate = [&](qsizetype i, Kind kind, const QString &what, int systemError = 0) {
        return fail(kind,
                    callText(call, QStringLiteral("update %1 of %2 (%3): %4")
                                       .arg(i + 1)
                                       .arg(updates.size())
                                       .arg(describe(updates[i]), what)),
                    systemError);
    };
    const QString own = QFileInfo(archive.path()).canonicalFilePath();
    std::vector<QByteArray> texts;  // what the commands point to
    texts.reserve(size_t(updates.size()) * 2);
    std::vector<wimlib_update_command> commands(size_t(updates.size()));
    for (qsizetype i = 0; i < updates.size(); ++i) {
        const ImagingUpdate &update = updates[i];
        wimlib_update_command &command = commands[size_t(i)];
        switch (update.kind) {
        case ImagingUpdate::Kind::Add: {
            const QFileInfo source(update.source);
            if (update.source.isEmpty() || (!source.exists() && !source.isSymLink()))
                return failUpdate(i, Kind::NotFound, QStringLiteral("%1 does not exist").arg(update.source), ENOENT);
            const QString root = source.canonicalFilePath();
            if (!own.isEmpty() && (own == root || (source.isDir() && own.startsWith(root + QLatin1Char('/')))))
                return failUpdate(i, Kind::WouldOverwriteArchive,
                                  QStringLiteral("%1 holds the archive %2 itself").arg(update.source, archive.path()));
            command.op = WIMLIB_UPDATE_OP_ADD;
            texts.push_back(QFile::encodeName(update.source));
            command.add.fs_source_path = texts.back().data();
            texts.push_back(imagePath(update.path));
            command.add.wim_target_path = texts.back().data();
            command.add.add_flags = WIMLIB_ADD_FLAG_TEST_FILE_EXCLUSION | WIMLIB_ADD_FLAG_EXCLUDE_VERBOSE;
            break;
        }
        case ImagingUpdate::Kind::Delete:
            command.op = WIMLIB_UPDATE_OP_DELETE;
            texts.push_back(imagePath(update.path));
            command.delete_.wim_path = texts.back().data();
            command.delete_.delete_flags = WIMLIB_DELETE_FLAG_RECURSIVE;
            break;
        case ImagingUpdate::Kind::Rename:
            command.op = WIMLIB_UPDATE_OP_RENAME;
            texts.push_back(imagePath(update.path));
            command.rename.wim_source_path = texts.back().data();
            texts.push_back(imagePath(update.newPath));
            command.rename.wim_target_path = texts.back().data();
            break;
        }
    }

    WimlibProgress progress(m_callbacks.current(), archive.path());
    {
        WorkLock lock(archive);
        if (!ready(archive, lock, call, ArchiveUse::Change) || !holdsImage(archive.wim(), handle->image, call))
            return false;
        WIMStruct *wim = archive.wim();
        if (commands.empty())
            return true;
        UpdateProgress updating{&progress};
        wimlib_register_progress_function(wim, &UpdateProgress::forward, &updating);
        errno = 0;
        int code = wimlib_update_image(wim, int(handle->image), commands.data(), commands.size(),
                                       WIMLIB_UPDATE_FLAG_SEND_PROGRESS);
        const int systemError = errno;
        const bool updated = code == 0;
        code = commitOrDiscard(archive, code, dataWriteFlags(archive), &progress);
        if (code != 0) {
            if (progress.aborted())
                return fail(Kind::Aborted, callText(call, QStringLiteral("aborted; the archive is as it was")));
            if (updated)
                return failCommit(call, archive, code);
            const qsizetype failed = qsizetype(std::min(updating.current, commands.size() - 1));
            return failUpdate(failed, wimlibErrorKind(code, systemError), wimlibErrorText(QString(), code).mid(2),
                              wimlibSystemError(code, systemError));
        }
    }
    progress.finish();
    return true;
}

bool WimlibBackend::WIMRefreshFile(HWIM wim, bool *changed)
{
    static const char call[] = "WIMRefreshFile";
    if (!changed)
        return fail(callText(call, QStringLiteral("nowhere to put the answer")));
    *changed = false;
    const auto archive = archiveOf(wim, call);
    if (!archive)
        return false;
    // No file lock: a writer of ours changes the header last, so a read
    // meanwhile sees the archive as it was, and its end brings another look.
    WorkLock lock(*archive);
    if (!lock.owns())
        return fail(Kind::Busy, callText(call, QStringLiteral("the archive is busy with another call")));
    ImagingError error;
    if (!archive->readAgainIfChanged(changed, &error)) {
        error.text = callText(call, error.text);
        return fail(error);
    }
    return true;
}

uint32_t WimlibBackend::WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData)
{
    static const char call[] = "WIMRegisterMessageCallback";
    if (wim) {
        fail(callText(call, QStringLiteral("callbacks are registered for the whole process (null handle)")));
        return INVALID_CALLBACK_VALUE;
    }
    if (!callback) {
        fail(callText(call, QStringLiteral("no callback")));
        return INVALID_CALLBACK_VALUE;
    }
    return m_callbacks.add(callback, userData);
}

bool WimlibBackend::WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback)
{
    static const char call[] = "WIMUnregisterMessageCallback";
    if (wim)
        return fail(callText(call, QStringLiteral("callbacks are registered for the whole process (null handle)")));
    if (!m_callbacks.remove(callback))
        return fail(callText(call, QStringLiteral("the callback is not registered")));
    return true;
}

QString WimlibBackend::LastErrorText() const
{
    return wimlibLastFailure().text;
}

ImagingError WimlibBackend::LastError() const
{
    return wimlibLastFailure();
}

bool WimlibBackend::failWith(ImagingError::Kind kind, int systemError, const QString &text)
{
    return wimlibFail({kind, systemError, text});
}
