#pragma once

#include "archive/image_entries.h"
#include "imaging/imaging_library.h"
#include "imaging/wim_dir_entry.h"
#include "imaging/wim_handle.h"
#include "imaging/wim_types.h"

#include <QList>
#include <QString>
#include <atomic>
#include <functional>

class NameFilter;

// One folder of an image as a worker listed it.
struct FolderListing {
    QString path;  // the entry listed: the path asked, or the one it was found as
    bool ok = false;
    WimDirEntry self;
    QList<WimDirEntry> children;
    EntryOrders orders;  // the children's, when the worker worked them out
    ImagingError error;  // why not, read on the thread that listed
};

// The image handle a browse dialog lists through. It owns the handle and
// closes it when it goes, which frees the image's tree: drop the last
// reference off the UI thread (it takes about half the time reading took).
//
// Threads: list() on any thread; calls wait for each other (the first reads
// the whole tree). Never blocked by an extraction or apply of the same archive.
class ImageBrowser
{
public:
    explicit ImageBrowser(HWIM image) : m_image(imaging(), image) {}

    // Lists `path`. A path the image does not hold as written is looked up
    // again name by name regardless of letter case (Windows users type
    // "\windows\system32"), when exactly one entry matches each name.
    FolderListing list(const QString &path) const;
    // Walks the whole image for the entries `filter` finds, handing them to
    // `found` as they come (in batches, at least every 100 ms while there
    // are any). Stops when `stop` is set or `found` returns false. False
    // when the walk failed (*error says why) or was stopped.
    bool find(const NameFilter &filter, const std::atomic<bool> &stop,
              const std::function<bool(QList<WimDirEntry> found)> &found, ImagingError *error) const;

private:
    // `path` with each name as the image spells it, or "" when some name
    // matches no entry or more than one.
    QString spelledAsInImage(const QString &path) const;

    WimHandle m_image;
};
