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

// The ways a path split at "/" leads from a folder to an entry when names on
// the way may hold "/" or "\\" (one name then joins several parts): how many
// (2 for more), and the first as the glob pattern that names it to wimlib,
// "?" for each separator inside a name, with its names as stored.
struct Resolution {
    int ways = 0;
    QStringList globs;
    QStringList names;
};

void resolve(WimlibImageView &view, const QString &temporaryPath, const QString &folder, const QStringList &rest,
             Resolution &way, Resolution &found)
{
    if (rest.isEmpty()) {
        if (++found.ways == 1)
            found = {1, way.globs, way.names};
        return;
    }
    QList<WimDirEntry> children;
    ImagingError error;
    if (!view.list(folder, temporaryPath, nullptr, &children, &error))
        return;  // not a folder, or one wimlib cannot name either
    for (qsizetype k = 1; k <= rest.size() && found.ways < 2; ++k) {
        const QString name = rest.mid(0, k).join(QLatin1Char('/'));
        if (std::none_of(children.cbegin(), children.cend(), [&name](const WimDirEntry &e) { return e.name == name; }))
            continue;
        const QString glob =
            QString(name).replace(QLatin1Char('/'), QLatin1Char('?')).replace(QLatin1Char('\\'), QLatin1Char('?'));
        const QByteArray pattern = glob.toUtf8();
        if (std::count_if(children.cbegin(), children.cend(),
                          [&pattern](const WimDirEntry &e) {
                              return ::fnmatch(pattern.constData(), e.name.toUtf8().constData(), 0) == 0;
                          })
            != 1) {
            found.ways = 2;  // the pattern would name a sibling too
            return;
        }
        way.globs << glob;
        way.names << name;
        resolve(view, temporaryPath,
                folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name, rest.mid(k), way,
                found);
        way.globs.removeLast();
        way.names.removeLast();
    }
}

// wimlib splits a path at "/" and at "\\", so no path names an entry whose
// name holds either. When `path`, read with such names whole, leads to one
// entry of the image, and a pattern with "?" for those separators names only
// it: that pattern and the entry's own name. A path with wildcards of its own
// gets none.
struct SeparatorPattern {
    QByteArray pattern;  // "" when there is none
    QString name;
};
SeparatorPattern separatorPattern(WimlibImageView &view, const QString &path, const QString &temporaryPath)
{
    if (path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?')) || path.contains(QLatin1Char('[')))
        return {};
    Resolution way, found;
    resolve(view, temporaryPath, QStringLiteral("/"), path.split(QLatin1Char('/'), Qt::SkipEmptyParts), way, found);
    if (found.ways != 1 || found.names.isEmpty())
        return {};
    return {(QLatin1Char('/') + found.globs.join(QLatin1Char('/'))).toUtf8(), found.names.last()};
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
    unwritablenames::Plan names;
    names.watchFirstRead(archive);
    WIMStruct *wim = archive.wim();
    const int index = int(handle->image);

    // Every path first: a missing one fails the call before anything is written.
    QStringList literalPaths;
    std::vector<QByteArray> patterns;
    QList<unwritablenames::Plan::Globbed> globbed;
    for (const QString &path : paths) {
        const QString text = path.isEmpty() ? QStringLiteral("/") : path;
        const int code = wimlib_iterate_dir_tree(wim, index, text.toUtf8().constData(), 0, ignoreEntry, nullptr);
        if (code == WIMLIB_ERR_PATH_DOES_NOT_EXIST) {
            SeparatorPattern found = separatorPattern(*handle->view, path, archive.temporaryPath());
            if (found.pattern.isEmpty())
                return fail(call, ImagingError::Kind::NotFound,
                            QStringLiteral("%1 is not in image %2").arg(path).arg(index));
            patterns.push_back(std::move(found.pattern));
            globbed.append({path, found.name});
            continue;
        }
        if (code != 0)
            return failWimlib(call, QStringLiteral("cannot read %1 in image %2").arg(path).arg(index), code);
        literalPaths << text;
    }
    ImagingError namesError;
    if (!names.prepare(archive, handle->image, literalPaths, unwritablenames::limitOf(destination), &namesError,
                       globbed))
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
