#include "imaging/unwritable_names.h"

#include "imaging/imaging_library.h"
#include "imaging/wimlib_archive.h"
#include "imaging/wimlib_errors.h"
#include "imaging/wimlib_messages.h"
#include "imaging/wimlib_progress.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <numeric>

#include <unistd.h>

namespace unwritablenames {

namespace {

qsizetype lengthOf(const QString &name, NameLimit limit)
{
    return limit.utf16 ? name.size() : name.toUtf8().size();
}

// The longest beginning of `text` (whole characters) no longer than `room`.
QString beginning(const QString &text, qsizetype room, NameLimit limit)
{
    qsizetype used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate();
        const qsizetype units = pair ? 2 : 1;
        const qsizetype length = lengthOf(text.mid(end, units), limit);
        if (used + length > room)
            break;
        used += length;
        end += units;
    }
    return text.left(end);
}

QString normalized(const QString &path)
{
    QString p = path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

QString joined(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
}

int ignoreEntry(const wimlib_dir_entry *, void *)
{
    return 0;
}

// An entry whose name is too long, found below one of the roots.
struct Found {
    QString folder;  // its folder's image path
    QString name;
    size_t depth;
    bool reachable;  // no name on its path holds a separator wimlib would split at
};

struct Walk {
    NameLimit limit;
    QStringList names;  // the names on the path, by depth (the root's is "")
    QList<Found> found;
};

int visit(const wimlib_dir_entry *entry, void *context)
{
    auto *walk = static_cast<Walk *>(context);
    walk->names.resize(qsizetype(entry->depth));
    walk->names.append(QString::fromUtf8(entry->filename));
    if (entry->depth == 0 || lengthOf(walk->names.last(), walk->limit) <= walk->limit.max)
        return 0;
    const QStringList above = walk->names.mid(1, walk->names.size() - 2);
    const bool reachable = std::none_of(walk->names.cbegin(), walk->names.cend(), [](const QString &n) {
        return n.contains(QLatin1Char('/')) || n.contains(QLatin1Char('\\'));
    });
    walk->found.append({QLatin1Char('/') + above.join(QLatin1Char('/')), walk->names.last(), entry->depth, reachable});
    return 0;
}

int collectName(const wimlib_dir_entry *entry, void *context)
{
    static_cast<QSet<QString> *>(context)->insert(QString::fromUtf8(entry->filename));
    return 0;
}

}  // namespace

NameLimit limitOf(const QString &folder)
{
    const long max = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return {max > 0 ? qsizetype(max) : 255, false};
}

QString shortenedName(const QString &name, NameLimit limit, const QSet<QString> &taken)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // An extension as people know one: short, after something.
    QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    const QString stem = name.left(name.size() - extension.size());
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    for (int n = 1;; ++n) {
        const QString mark = QLatin1Char('~') + hash + (n > 1 ? QStringLiteral("-%1").arg(n) : QString());
        if (lengthOf(mark + extension, limit) >= limit.max)
            extension.clear();
        const QString candidate =
            beginning(stem, limit.max - lengthOf(mark + extension, limit), limit) + mark + extension;
        if (!taken.contains(candidate))
            return candidate;
    }
}

QString placeOf(const QString &imagePath, const QStringList &roots, const QString &destination)
{
    const QString path = normalized(imagePath);
    for (const QString &root : roots) {
        if (root == QLatin1String("/"))
            return path == root ? destination : destination + path;
        if (path == root || path.startsWith(root + QLatin1Char('/')))
            return destination + QLatin1Char('/') + root.section(QLatin1Char('/'), -1) + path.mid(root.size());
    }
    return {};
}

QString Plan::renamedPath(const QString &path) const
{
    QString stored, written;
    for (const QString &name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        stored += QLatin1Char('/') + name;
        const auto renamed = std::find_if(m_renamed.cbegin(), m_renamed.cend(),
                                          [&stored](const Renamed &r) { return r.path == stored; });
        written += QLatin1Char('/') + (renamed == m_renamed.cend() ? name : renamed->name);
    }
    return written.isEmpty() ? QStringLiteral("/") : written;
}

QString Plan::placeOf(const QString &path, const QString &destination) const
{
    // wimlib names an entry by its names joined with "/", whatever they hold.
    for (const Globbed &g : m_globbed) {
        if (path == g.path || path.startsWith(g.path + QLatin1Char('/')))
            return destination + QLatin1Char('/') + g.name + path.mid(g.path.size());
    }
    return unwritablenames::placeOf(path, m_roots, destination);
}

void Plan::watchFirstRead(const WimlibArchive &archive)
{
    m_firstReadWatched = archive.treesUnread();
    if (m_firstReadWatched)
        wimlibmessages::clear();
}

bool Plan::prepare(WimlibArchive &archive, uint32_t image, const QStringList &roots, NameLimit limit,
                   ImagingError *error, const QList<Globbed> &globbed)
{
    m_globbed = globbed;
    m_roots.clear();
    for (const QString &root : roots)
        m_roots << normalized(root);
    const auto failed = [error](const QString &what, int code) {
        const int systemError = errno;
        *error = {wimlibErrorKind(code, systemError), systemError, wimlibErrorText(what, code)};
        return false;
    };

    // wimlib warns of "." and ".." entries only while it reads the image's
    // tree, which an earlier call may have done: once per state of the file,
    // it is read here once more, unless this call's own first read is watched.
    if (!archive.droppedDotEntries(image, &m_dotFolders)) {
        if (!m_firstReadWatched) {
            archive.discard();
            if (!archive.refresh(error))
                return false;
            wimlibmessages::clear();
        }
        if (const int code = wimlib_iterate_dir_tree(archive.wim(), int(image), "/", 0, ignoreEntry, nullptr))
            return failed(QStringLiteral("cannot read image %1").arg(image), code);
        m_dotFolders.clear();
        for (const wimlibmessages::UnwritableName &name : wimlibmessages::unwritableNames()) {
            if (name.skipped)
                m_dotFolders << name.path;
        }
        archive.noteDroppedDotEntries(image, m_dotFolders);
    }

    Walk walk{limit, {}, {}};
    for (const QString &root : std::as_const(m_roots)) {
        if (root.contains(QLatin1Char('\\')))
            continue;                               // no path reaches it
        walk.names = root.split(QLatin1Char('/'));  // "" first: the image's root
        const QByteArray path = root.toUtf8();
        if (const int code = wimlib_iterate_dir_tree(archive.wim(), int(image), path.constData(),
                                                     WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, visit, &walk))
            return failed(QStringLiteral("cannot read %1 in image %2").arg(root).arg(image), code);
    }
    // An unreachable one is left to fail the call, as it would have.
    walk.found.removeIf([](const Found &f) { return !f.reachable; });
    if (walk.found.isEmpty())
        return true;

    QHash<QString, QSet<QString>> taken;  // by folder: the names there, old and new
    for (const Found &f : std::as_const(walk.found)) {
        if (!taken.contains(f.folder)) {
            QSet<QString> &names = taken[f.folder];
            const QByteArray folder = f.folder.toUtf8();
            if (const int code = wimlib_iterate_dir_tree(archive.wim(), int(image), folder.constData(),
                                                         WIMLIB_ITERATE_DIR_TREE_FLAG_CHILDREN, collectName, &names))
                return failed(QStringLiteral("cannot read %1 in image %2").arg(f.folder).arg(image), code);
        }
        const QString name = shortenedName(f.name, limit, taken[f.folder]);
        taken[f.folder].insert(name);
        m_renamed.append({joined(f.folder, f.name), name});
    }
    // The deepest first, so that every path on the way still holds its old names.
    QList<qsizetype> order(walk.found.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&walk](qsizetype a, qsizetype b) { return walk.found.at(a).depth > walk.found.at(b).depth; });
    for (const qsizetype i : std::as_const(order)) {
        const Renamed &r = m_renamed.at(i);
        const QByteArray from = r.path.toUtf8();
        const QByteArray to = joined(walk.found.at(i).folder, r.name).toUtf8();
        if (const int code = wimlib_rename_path(archive.wim(), int(image), from.constData(), to.constData())) {
            archive.discard();
            return failed(QStringLiteral("cannot write %1 under a shorter name").arg(r.path), code);
        }
    }
    for (QString &root : m_roots)
        root = renamedPath(root);
    return true;
}

void Plan::finish(WimlibArchive &archive, WimlibProgress &progress, const QString &destination)
{
    const auto warn = [&](const QString &path, const QString &more, int code) {
        if (const QString place = placeOf(path, destination); !place.isEmpty())
            progress.warn(place + more, code);
    };
    for (const QString &folder : std::as_const(m_dotFolders))
        warn(renamedPath(folder), QString(), EINVAL);
    // wimlib names these with the new names.
    for (const wimlibmessages::UnwritableName &name : wimlibmessages::unwritableNames()) {
        if (!name.skipped)
            warn(name.path, QString(), EINVAL);
    }
    for (const Renamed &r : std::as_const(m_renamed)) {
        warn(renamedPath(r.path), QStringLiteral("（原名过长：%1）").arg(r.path.section(QLatin1Char('/'), -1)),
             ENAMETOOLONG);
    }
    // The renames must never reach a commit.
    if (!m_renamed.isEmpty())
        archive.discard();
}

}  // namespace unwritablenames
