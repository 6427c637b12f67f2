#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>

// One entry of an image's tree as WIMListImageFolder gives it, read from the
// image's metadata alone.
struct WimDirEntry {
    enum class Type {
        Folder,
        File,  // also a reparse point that is not a link (extracted as a file)
        Link,  // a symbolic link or a junction: extracted as a symbolic link
    };

    QString name;  // its name in its folder; "" for the image's root
    QString path;  // "/" for the root, else "/" and the names below it joined by "/"
    Type type = Type::File;
    uint64_t size = 0;        // bytes of a file's data; 0 for folders and links
    uint32_t attributes = 0;  // the Windows file attributes stored in the image (0x10: a directory)
    // A link's target as extracting it here writes it; "" when the link
    // cannot be extracted here (a name invalid on this system).
    QString linkTarget;
    QDateTime modified;  // last write time, UTC
    // Equal non-zero values: names of one file (hard links); 0 for a file with one name.
    uint64_t hardLinkGroup = 0;

    bool isDirectory() const { return (attributes & 0x10u) != 0; }
};

// One entry of an image's tree as the engine holds it, for a caller that
// looks at each entry once and keeps nothing of it (WIMVisitImageTree): its
// texts are the engine's own, valid only while the visitor given it runs.
struct WimDirEntryView {
    QByteArrayView name;  // UTF-8, followed by a NUL; as WimDirEntry::name
    QByteArrayView path;  // UTF-8, followed by a NUL; as WimDirEntry::path
    WimDirEntry::Type type = WimDirEntry::Type::File;
    uint64_t size = 0;
    uint32_t attributes = 0;
    int64_t modified = 0;  // last write time, milliseconds since 1970 UTC
    uint64_t hardLinkGroup = 0;

    bool isDirectory() const { return (attributes & 0x10u) != 0; }
    // The entry as WIMListImageFolder gives it, its link target left "".
    WimDirEntry toEntry() const
    {
        WimDirEntry e;
        e.name = QString::fromUtf8(name);
        e.path = QString::fromUtf8(path);
        e.type = type;
        e.size = size;
        e.attributes = attributes;
        e.modified = QDateTime::fromMSecsSinceEpoch(modified, Qt::UTC);
        e.hardLinkGroup = hardLinkGroup;
        return e;
    }
};

// Receives each entry of a walk; false stops it.
using WimDirVisitor = std::function<bool(const WimDirEntryView &)>;
