#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wim_types.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <wimlib.h>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class WimlibProgress;

struct WimlibFree {
    void operator()(WIMStruct *wim) const { wimlib_free(wim); }
};
using WimlibPtr = std::unique_ptr<WIMStruct, WimlibFree>;

// "what went wrong: wimlib's own words (wimlib error N)".
QString wimlibErrorText(const QString &what, int code);

// What the archive held when it was last read from disk; readers take it
// without waiting for a running call.
struct WimlibSnapshot {
    uint32_t imageCount = 0;
    uint32_t bootIndex = 0;
    uint32_t compression = 0;
    uint8_t guid[WIMLIB_GUID_LEN] = {};
    uint16_t partNumber = 1;
    uint16_t totalParts = 1;
    uint32_t attributes = 0;  // WIM_ATTRIBUTE_* values
    QStringList images;       // each image's own <IMAGE> element
};

// The state of one open archive, shared by its archive handle and every image
// handle loaded from it (shared ownership: closing in any order is fine).
//
// wimlib allows one call at a time on a WIMStruct and none after a successful
// commit, so every call on wim() is made with work() locked, and every commit
// drops the WIMStruct: the archive is read again on its next use, which also
// renews the snapshot (wimlib's XML is stale after a commit on the same
// WIMStruct). A long call therefore must not reach its callbacks between a
// commit and the release of work(): they may ask for the snapshot.
class WimlibArchive
{
public:
    // An existing regular file. writable: it must also be writable (and, for
    // root, carry a write permission bit, as the kernel demands an execute
    // bit before root may execute). Null and *error on failure.
    static std::shared_ptr<WimlibArchive> open(const QString &path, uint32_t access, uint32_t flags, QString *error);
    static std::shared_ptr<WimlibArchive> open(const QString &path, uint32_t access, uint32_t flags,
                                               ImagingError *error);

    // replaceExisting: a new empty archive replaces whatever is at `path` now
    // (written to a temporary file beside it and renamed over it: a failure
    // leaves the old file as it was). Otherwise the archive exists only in
    // memory until its first commit, which must not find a file there.
    static std::shared_ptr<WimlibArchive> create(const QString &path, uint32_t compression, bool replaceExisting,
                                                 uint32_t access, uint32_t flags, QString *error);
    static std::shared_ptr<WimlibArchive> create(const QString &path, uint32_t compression, bool replaceExisting,
                                                 uint32_t access, uint32_t flags, ImagingError *error);

    ~WimlibArchive();
    WimlibArchive(const WimlibArchive &) = delete;
    WimlibArchive &operator=(const WimlibArchive &) = delete;

    const QString &path() const { return m_path; }
    const QByteArray &native() const { return m_native; }
    uint32_t access() const { return m_access; }
    uint32_t flags() const { return m_flags; }
    bool mayRead() const { return (m_access & WIM_GENERIC_READ) != 0; }
    bool mayWrite() const { return (m_access & WIM_GENERIC_WRITE) != 0; }

    // Reads the archive first when a change made it stale. Never call it
    // with work() locked.
    std::shared_ptr<const WimlibSnapshot> snapshot();
    QString temporaryPath() const;
    void setTemporaryPath(const QString &path);

    // Everything below requires work() to be locked.
    std::mutex &work() { return m_work; }
    // Null after a failed reopen: the archive is then unusable.
    WIMStruct *wim() const
    {
        m_handedOut = true;
        return m_wim.get();
    }
    // True while nothing took wim() since the archive was last read, so no
    // image's tree is loaded in it yet.
    bool treesUnread() const { return m_wim && !m_handedOut; }

    // Reads the archive when a change of ours made it stale, and checks that
    // its file is still what the handle last read or wrote (device, inode,
    // size, modification and change times): a file another handle or program
    // wrote or replaced since then is read again and refused, kind
    // ChangedOnDisk, so that no change is made from a stale view of it. False
    // and *error also when it is gone or cannot be read any more.
    bool refresh(QString *error);
    bool refresh(ImagingError *error);

    // Reads the archive again when its file changed on disk since the last
    // call of this (or since it was opened); *changed says whether it did,
    // also when a call read it again meanwhile. False and *error when it is
    // gone or cannot be read.
    bool readAgainIfChanged(bool *changed, ImagingError *error);

    // Writes the changes made on wim() and syncs them to disk, then drops the
    // WIMStruct whatever the outcome, so that a failed change leaves no trace
    // in memory either. Returns a wimlib error code (0 = success), with
    // lastSystemError() set.
    //
    // Killed at any write or out of disk, the archive opens afterwards with
    // either its old or its new content: an archive on disk is appended to
    // (new data, metadata, blob table and XML after the old end, the header
    // last; wimlib cuts a failed append back), also when only texts or the
    // boot index changed (see takeAppendPath()); a new archive is written to
    // a LockedTemporaryFile beside it and renamed into place.
    int commit(int writeFlags, WimlibProgress *progress);

    // Writes the archive anew, without the space of deleted images, through
    // the same temporary file beside it and rename as a new archive's first
    // write (a failure, an abort or a full disk leaves the file as it was),
    // with the old file's mode and owner; then drops the WIMStruct. A wimlib
    // error code (0 = success).
    int rebuild(int writeFlags, WimlibProgress *progress);
    // commit()'s result when the file changed on disk since it was read: the
    // change is dropped, nothing is written.
    static constexpr int kChangedOnDisk = -1;
    // errno as it was when the last load or commit failed (0: none known).
    int lastSystemError() const { return m_lastSystemError; }

    // Drops wim() and any change made on it; the next use reads the archive again.
    void discard();

    // Gives wim() away unchanged when it is loaded and matches the file on
    // disk, for read-only use elsewhere (browsing takes it instead of opening
    // the file once more); null otherwise, without reading anything. The next
    // use reads the archive again; the snapshot stays as it is.
    // Only to the thread that read it: the memory of a WIMStruct is its
    // reader's (glibc gives each thread its own heap), and what another
    // thread frees of it is gathered up by that thread's next allocation, the
    // UI thread's once blocking 70 ms after a browsed 200,000-file image closed.
    WimlibPtr handOver();

    // The folders of `image` whose "." or ".." entries wimlib left out when it
    // read the image (one per entry), as noted for the file as last read;
    // false when nothing is noted for it.
    bool droppedDotEntries(uint32_t image, QStringList *folders) const;
    void noteDroppedDotEntries(uint32_t image, const QStringList &folders);

    // False while the archive exists only in memory.
    bool existsOnDisk() const { return !m_inMemoryOnly; }

private:
    WimlibArchive(const QString &path, uint32_t access, uint32_t flags);
    int load();
    // Notes the file as our own write (or failed write, cut back) left it,
    // under the locks that kept everyone else out.
    void stampOwnWrite();
    bool unchangedOnDisk() const;
    int writeNewFile(int writeFlags, bool replaceExisting);
    // A change that leaves every image's tree as it was (texts, boot index)
    // would make wimlib write its new XML over the old one in place, and a
    // kill or a full disk in the middle leaves an archive that no longer
    // opens. A deletion makes wimlib append instead (blob table and XML after
    // the old end, header last): an empty image is added and deleted again,
    // and the write becomes a soft delete (no image's metadata is written).
    int takeAppendPath(int *writeFlags);
    void takeSnapshot();

    const QString m_path;
    const QByteArray m_native;
    const uint32_t m_access;
    const uint32_t m_flags;

    std::mutex m_work;
    WimlibPtr m_wim;
    mutable bool m_handedOut = false;  // see treesUnread()
    bool m_inMemoryOnly = false;
    std::atomic<bool> m_stale{false};  // wim() dropped after a change; snapshot outdated
    int m_compression = WIMLIB_COMPRESSION_TYPE_LZX;
    uint32_t m_loadedImageCount = 0;         // as the archive was read
    WimlibProgress *m_committing = nullptr;  // during commit()
    int m_lastSystemError = 0;
    bool m_haveStamp = false;
    std::thread::id m_loadedOn;        // the thread that read wim()
    struct stat m_stamp {};            // the file as last read, or as our last write left it
    bool m_changedForCalls = false;    // read again after a change by someone else, not yet refused
    bool m_changedForRefresh = false;  // the same, not yet told to readAgainIfChanged()

    QMap<uint32_t, QStringList> m_dotEntries;  // for the file as m_dotStamp describes it
    struct stat m_dotStamp {};

    mutable std::mutex m_infoMutex;
    std::shared_ptr<const WimlibSnapshot> m_snapshot;
    QString m_temporaryPath;
};
