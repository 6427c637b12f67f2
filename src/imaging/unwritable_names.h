#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <wimlib.h>

class WimlibArchive;
class WimlibProgress;
struct ImagingError;

// Names an apply or an extraction cannot write as the image holds them, found
// before it runs and each given a line in its log after it: a name longer
// than the destination allows (wimlib would fail the whole call) is written
// under a shortened one, renamed in the archive's WIMStruct in memory only
// (which is then dropped); a "." or ".." entry, which wimlib leaves out when
// it reads the image, is named by its folder; a name with "/" inside, which
// wimlib writes under another name, as wimlib warned of it.
namespace unwritablenames {

// How long a name may be: bytes of UTF-8 in a folder here, UTF-16 units on an
// NTFS volume.
struct NameLimit {
    qsizetype max = 255;
    bool utf16 = false;
};
// The limit of the file system holding `folder` (255 when it does not say).
NameLimit limitOf(const QString &folder);

// `name`, too long for `limit`, shortened to fit it: its beginning, "~" and
// eight hex digits of a hash of the whole name (then "-2", "-3", ... while
// that is `taken`), and its extension.
QString shortenedName(const QString &name, NameLimit limit, const QSet<QString> &taken);

// Where an entry of the image lands: below `destination` as an apply leaves it
// (`roots` {"/"}), or as an extraction of `roots` does (each under its own name).
// "" when it is below none of them.
QString placeOf(const QString &imagePath, const QStringList &roots, const QString &destination);

class Plan
{
public:
    // An entry written through a glob pattern, as no path names it (a name
    // on the way holds "/" or "\\"): the path it was asked by, its own name.
    struct Globbed {
        QString path;
        QString name;
    };

    // Right after the archive is ready, before anything takes its wim():
    // when no image's tree is loaded yet, the call's own first read of it
    // tells the dropped dot entries, and prepare() need not read it again.
    void watchFirstRead(const WimlibArchive &archive);

    // Before the call, with the archive's work lock held and the archive
    // ready: may read the archive again (take wim() afresh afterwards).
    // `roots`: the image paths the call writes, `globbed` the entries it
    // writes besides. False and *error when the image cannot be read.
    bool prepare(WimlibArchive &archive, uint32_t image, const QStringList &roots, NameLimit limit, ImagingError *error,
                 const QList<Globbed> &globbed = {});
    // `roots` as they are named after the renames.
    const QStringList &roots() const { return m_roots; }
    // After the call, with the work lock still held: a warning for every entry
    // in the log, then the archive's WIMStruct dropped if it was renamed in.
    void finish(WimlibArchive &archive, WimlibProgress &progress, const QString &destination);

private:
    struct Renamed {
        QString path;  // as stored
        QString name;  // as written
    };
    QString renamedPath(const QString &path) const;
    QString placeOf(const QString &path, const QString &destination) const;

    QStringList m_roots;
    QList<Globbed> m_globbed;
    QStringList m_dotFolders;  // as stored, one per entry left out
    bool m_firstReadWatched = false;
    QList<Renamed> m_renamed;
};

}  // namespace unwritablenames
