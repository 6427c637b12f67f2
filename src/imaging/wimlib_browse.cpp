// The browsing calls of WimlibBackend: listing a folder of an image and
// extracting chosen paths of it.

#include "imaging/staged_extraction.h"
#include "imaging/unwritable_names.h"
#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_backend.h"
#include "imaging/wimlib_image_view.h"
#include "imaging/wimlib_last_error.h"
#include "imaging/wimlib_messages.h"
#include "imaging/wimlib_progress.h"
#include "imaging/wimlib_work_lock.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fnmatch.h>

namespace {

bool fail(const char *call, ImagingError::Kind kind, const QString &what, int systemError = 0)
{
    return wimlibFail({kind, systemError, QStringLiteral("%1: %2").arg(QLatin1String(call), what)});
}

bool failWimlib(const char *call, const QString &what, int code)
{
    const int systemError = errno;
    return wimlibFail({wimlibErrorKind(code, systemError), systemError,
                       wimlibErrorText(QStringLiteral("%1: %2").arg(QLatin1String(call), what), code)});
}

int ignoreEntry(const wimlib_dir_entry *, void *)
{
    return 0;
}

// Whether the image handle's archive can be read for browsing; fails `call` if not.
template <class Handle>
bool browsable(const Handle &handle, const char *call)
{
    if (!handle->archive->mayRead())
        return fail(call, ImagingError::Kind::AccessDenied, QStringLiteral("the archive is open without read access"));
    if (!handle->archive->existsOnDisk())
        return fail(call, ImagingError::Kind::NotFound, QStringLiteral("the archive is not written yet"));
    return true;
}

bool failBrowsing(const char *call, ImagingError error)
{
    error.text = QStringLiteral("%1: %2").arg(QLatin1String(call), error.text);
    return wimlibFail(std::move(error));
}

// wimlib reads "\" in a path as a separator, so a path through names that
// hold one names nothing there. When the image holds `path`, the pattern
// with "?" for each "\" names it too, and only it when no sibling on the way
// matches as well: that pattern, else "". A path with wildcards of its own
// gets none.
QByteArray backslashPattern(WimlibImageView &view, const QString &path, const QString &temporaryPath)
{
    if (!path.contains(QLatin1Char('\\')) || path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?'))
        || path.contains(QLatin1Char('[')))
        return {};
    ImagingError error;
    if (!view.list(path, temporaryPath, nullptr, nullptr, &error))
        return {};
    QString folder = QStringLiteral("/");
    for (const QString &name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (name.contains(QLatin1Char('\\'))) {
            QList<WimDirEntry> siblings;
            if (!view.list(folder, temporaryPath, nullptr, &siblings, &error))
                return {};
            const QByteArray pattern = QString(name).replace(QLatin1Char('\\'), QLatin1Char('?')).toUtf8();
            const auto matches = std::count_if(siblings.cbegin(), siblings.cend(), [&pattern](const WimDirEntry &e) {
                return ::fnmatch(pattern.constData(), e.name.toUtf8().constData(), 0) == 0;
            });
            if (matches != 1)
                return {};
        }
        folder += (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + name;
    }
    return QString(path).replace(QLatin1Char('\\'), QLatin1Char('?')).toUtf8();
}

}  // namespace

bool WimlibBackend::WIMListImageFolder(HWIM image, const QString &path, WimDirEntry *self, QList<WimDirEntry> *children)
{
    static const char call[] = "WIMListImageFolder";
    const auto handle = imageOf(image, call);
    if (!handle || !browsable(handle, call))
        return false;
    ImagingError error;
    if (!handle->view->list(path, handle->archive->temporaryPath(), self, children, &error))
        return failBrowsing(call, std::move(error));
    return true;
}

bool WimlibBackend::WIMVisitImageTree(HWIM image, const QString &path, const WimDirVisitor &visit)
{
    static const char call[] = "WIMVisitImageTree";
    const auto handle = imageOf(image, call);
    if (!handle || !browsable(handle, call))
        return false;
    if (!visit)
        return fail(call, ImagingError::Kind::Other, QStringLiteral("no visitor"));
    ImagingError error;
    if (!handle->view->visit(path, visit, &error))
        return failBrowsing(call, std::move(error));
    return true;
}

bool WimlibBackend::WIMExtractImagePaths(HWIM image, const QStringList &paths, const QString &destination)
{
    static const char call[] = "WIMExtractImagePaths";
    const auto handle = imageOf(image, call);
    if (!handle)
        return false;
    WimlibArchive &archive = *handle->archive;
    if (!archive.mayRead())
        return fail(call, ImagingError::Kind::AccessDenied, QStringLiteral("the archive is open without read access"));
    if (paths.isEmpty())
        return fail(call, ImagingError::Kind::Other, QStringLiteral("no path to extract"));
    if (destination.isEmpty() || !QFileInfo(destination).isDir())
        return fail(call, ImagingError::Kind::NotFound, QStringLiteral("%1 is not a folder").arg(destination));

    // As an apply: one call at a time on the archive, refused while it is busy.
    WorkLock lock(archive);
    if (!readyForCall(archive, lock, call, ArchiveUse::Read))
        return false;
    WIMStruct *wim = archive.wim();
    const int index = int(handle->image);

    // Every path first: a missing one fails the call before anything is written.
    QStringList literalPaths;
    std::vector<QByteArray> patterns;
    for (const QString &path : paths) {
        const QString text = path.isEmpty() ? QStringLiteral("/") : path;
        const int code = wimlib_iterate_dir_tree(wim, index, text.toUtf8().constData(), 0, ignoreEntry, nullptr);
        if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST) {
            QByteArray pattern = backslashPattern(*handle->view, path, archive.temporaryPath());
            if (pattern.isEmpty())
                return fail(call, ImagingError::Kind::NotFound,
                            QStringLiteral("%1 is not in image %2").arg(path).arg(index));
            patterns.push_back(std::move(pattern));
            continue;
        }
        if (code != 0)
            return failWimlib(call, QStringLiteral("cannot read %1 in image %2").arg(path).arg(index), code);
        literalPaths << text;
    }
    unwritablenames::Plan names;
    ImagingError namesError;
    // The paths holding "\" last: the plan gives the others back in order, renamed.
    QStringList roots = literalPaths;
    for (const QString &path : paths) {
        if (!literalPaths.contains(path.isEmpty() ? QStringLiteral("/") : path))
            roots << path;
    }
    if (!names.prepare(archive, handle->image, roots, unwritablenames::limitOf(destination), &namesError))
        return failBrowsing(call, std::move(namesError));
    wim = archive.wim();
    std::vector<QByteArray> literal;
    for (qsizetype i = 0; i < literalPaths.size(); ++i)
        literal.push_back(names.roots().at(i).toUtf8());
    // From here: what wimlib says of names it cannot write.
    wimlibmessages::clear();
    const auto pointersTo = [](const std::vector<QByteArray> &texts) {
        std::vector<const char *> pointers;
        for (const QByteArray &text : texts)
            pointers.push_back(text.constData());
        return pointers;
    };

    StagedExtraction staging(destination);
    if (staging.folder().isEmpty()) {
        archive.discard();  // any renames with it
        return fail(call, systemErrorKind(staging.error()), staging.errorText(), staging.error());
    }
    staging.protect(archive.path());

    WimlibProgress progress(m_callbacks.current(), destination);
    wimlib_register_progress_function(wim, &WimlibProgress::forward, &progress);
    const QByteArray target = QFile::encodeName(staging.folder());
    // Literal paths (no wildcards); links as stored, as wimlib-imagex extract writes them.
    const int flags = WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE | WIMLIB_EXTRACT_FLAG_NORPFIX
                      | WIMLIB_EXTRACT_FLAG_REPLACE_INVALID_FILENAMES;
    int code = 0;
    if (!literal.empty()) {
        const auto pointers = pointersTo(literal);
        code = wimlib_extract_paths(wim, index, target.constData(), pointers.data(), pointers.size(), flags);
    }
    if (code == 0 && !patterns.empty()) {
        const auto pointers = pointersTo(patterns);
        code = wimlib_extract_paths(wim, index, target.constData(), pointers.data(), pointers.size(),
                                    flags | WIMLIB_EXTRACT_FLAG_GLOB_PATHS | WIMLIB_EXTRACT_FLAG_STRICT_GLOB);
    }
    const int systemError = errno;
    wimlib_register_progress_function(wim, nullptr, nullptr);
    names.finish(archive, progress, destination);
    lock.unlock();
    if (code != 0) {
        if (progress.aborted())
            return fail(call, ImagingError::Kind::Aborted,
                        QStringLiteral("aborted; nothing was written to %1").arg(destination));
        errno = systemError;
        return failWimlib(call, QStringLiteral("cannot extract from image %1 to %2").arg(index).arg(destination), code);
    }
    if (!staging.moveIntoPlace()) {
        return fail(
            call, staging.hitProtected() ? ImagingError::Kind::WouldOverwriteArchive : systemErrorKind(staging.error()),
            staging.errorText(), staging.error());
    }
    progress.finish();
    return true;
}
