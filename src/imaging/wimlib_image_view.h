#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wimlib_archive.h"

#include <sys/stat.h>

#include <mutex>

// A read-only view of one image for browsing, owned by an image handle. It
// reads the archive's file through a WIMStruct of its own, so that browsing
// neither waits for nor is refused by a long call holding the archive's work
// lock (nor ever makes one wait: it takes that lock only when it is free, to
// take over the archive's idle WIMStruct instead of opening the file again
// when the archive read it on the same thread),
// and keeps the image's tree loaded between calls: wimlib reads the metadata
// once, then answers each folder from memory. When the file changes on disk
// (a commit, another program), the next call opens it again.
//
// Threads: any; calls wait for each other on the view's own lock.
class WimlibImageView
{
public:
    WimlibImageView(std::shared_ptr<WimlibArchive> archive, uint32_t image);
    ~WimlibImageView();
    WimlibImageView(const WimlibImageView &) = delete;
    WimlibImageView &operator=(const WimlibImageView &) = delete;

    // See ImagingLibrary::WIMListImageFolder. A link's target is read from
    // its data in the archive; where that cannot be read directly, the
    // folder's links alone are extracted into a temporary folder under
    // `temporaryPath` (the system's when empty), removed at once.
    bool list(const QString &path, const QString &temporaryPath, WimDirEntry *self, QList<WimDirEntry> *children,
              ImagingError *error);

    // See ImagingLibrary::WIMVisitImageTree.
    bool visit(const QString &path, const WimDirVisitor &visitor, ImagingError *error);

    // Where a listed link's data lies: its entry's index, its reparse tag.
    struct LinkData {
        qsizetype index;
        uint32_t tag;
        wimlib_resource_entry resource;
    };

private:
    bool ensureOpen(ImagingError *error);
    bool readLinkData(const wimlib_resource_entry &resource, QByteArray *data);
    void readLinkTargets(QList<WimDirEntry *> &links, const QString &temporaryPath);

    const std::shared_ptr<WimlibArchive> m_archive;
    const QString m_path;
    const QByteArray m_native;
    const uint32_t m_image;
    std::mutex m_mutex;
    WimlibPtr m_wim;
    wimlib_wim_info m_info{};
    int m_fd = -1;  // the same file, for reading link data directly
    wimlib_decompressor *m_decompressor = nullptr;
    struct stat m_stamp {};
};
