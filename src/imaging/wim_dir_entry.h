#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>

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
