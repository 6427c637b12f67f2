#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wim_handle.h"
#include "test_archives.h"

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>

// Helpers of the imaging tests: sample trees and handles that close themselves.
namespace imagingtest {

using testarchives::fileBytes;
using testarchives::noise;

// A tree with nested folders, an empty folder, empty files, Chinese and other
// Unicode names, a hard link (two names of one file) and a relative symbolic
// link. Returns false when the file system refused a part of it.
bool makeSampleTree(const QString &root);

// `size` bytes of noise spread over `files` files in a few folders.
bool makeDataTree(const QString &root, int files, int size);

// Flips one byte inside the stored copy of `file`'s data in the archive
// `wim`. The file must be noise (see noise()), which no compressor shrinks,
// so that every chunk of it is stored as it is; false when it is not found
// exactly once.
bool damageStoredCopy(const QString &wim, const QString &file);

// Renames entries in the uncompressed archive `wim` where no capture here can
// (a "/" inside a name, "." or ".."): each of `names`' keys, found exactly once
// in the images' metadata, becomes its value, of the same length in UTF-16;
// the metadata's checksums follow. False when a name is not found once.
bool renameInArchive(const QString &wim, const QMap<QString, QString> &names);

// testarchives::readTree with each symbolic link's own target text ("-> ../x"),
// so that trees under different roots compare equal.
QMap<QString, QByteArray> treeOf(const QString &root);

// Image i's NAME, read back through WIMGetImageInformation ("" when unnamed).
QString imageName(ImagingLibrary &lib, HWIM wim, uint32_t index);

// The archive at `path` opened or created through the boundary.
HWIM openWim(ImagingLibrary &lib, const QString &path, uint32_t access = WIM_GENERIC_READ_WRITE);
HWIM createWim(ImagingLibrary &lib, const QString &path, uint32_t compression = WIM_COMPRESS_LZX);

uint32_t imageCount(ImagingLibrary &lib, HWIM wim);
uint32_t bootIndex(ImagingLibrary &lib, HWIM wim);

// A file system mounted at `path` for one test (needs root): a tmpfs with
// `options` ("size=512k", "ro", ...), or `source` bound there. Unmounted
// when it goes out of scope.
class ScopedMount
{
public:
    static ScopedMount tmpfs(const QString &path, const QByteArray &options);
    static ScopedMount bind(const QString &source, const QString &path, bool readOnly = false);
    ~ScopedMount();
    ScopedMount(ScopedMount &&other) noexcept;
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;
    bool mounted() const { return m_mounted; }
    // Space left for an unprivileged writer, in bytes.
    qint64 freeBytes() const;
    // The file system's unit of space: free space moves by whole blocks.
    qint64 blockBytes() const;

private:
    explicit ScopedMount(const QString &path) : m_path(QFile::encodeName(path)) {}
    QByteArray m_path;
    bool m_mounted = false;
};

}  // namespace imagingtest
