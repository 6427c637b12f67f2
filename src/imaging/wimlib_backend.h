#pragma once

#include "imaging/imaging_library.h"
#include "imaging/wimlib_callbacks.h"

#include <memory>
#include <mutex>
#include <unordered_map>

class WimlibArchive;
class WimlibImageView;
namespace wimxml {
struct EditableTexts;
}

// The imaging library over wimlib, on real .wim files.
//
// Archives: access WIM_GENERIC_READ_WRITE needs a regular file we may read
// and write (for root: one with a write permission bit, the Linux form of the
// read-only attribute); WIM_GENERIC_READ one we may read; 0 (query only) one
// we may read, and its handle answers only attributes and image texts. A
// handle without write access refuses every change. WIM_CREATE_ALWAYS writes a
// valid empty archive at once; WIM_OPEN_ALWAYS on a missing file creates the
// archive in memory and writes it with its first change, so an export that
// fails leaves no file behind.
//
// Changes (capture, image information, delete, boot image, export into the
// destination) are written and synced to disk before the call returns, so
// that a kill at any write or a full disk leaves the archive opening with
// its old or its new content (see WimlibArchive::commit): an archive on disk
// is appended to, also for a change of texts or of the boot index (which
// appends the blob table and the XML again, about 50 bytes per distinct file
// content in the archive, reclaimed by a later rebuild); a new archive goes
// to a locked temporary file beside it, renamed into place, and temporary
// files of writers that were killed are removed by the next write into the
// folder.
// After every change, whatever its outcome, the archive is read again (on
// its next use), so the handle shows what is on disk. A delete is a soft
// delete: the image's entry and metadata go at once, its space is reclaimed
// by a later rebuild (wimlib-imagex optimize) instead of rewriting a
// multi-gigabyte archive.
//
// Apply refuses, before it writes anything, a target where the image holds
// an entry at the place of the archive it reads (the same file, however it
// is reached: symbolic links, bind mounts, hard links).
//
// Failures: LastError() gives every failure's kind, classified from
// wimlib's error code and errno; a full disk says "no space left" and names
// the archive or the target.
//
// Export: the destination holds both images afterwards, also when it is the
// same image again. With WIM_EXPORT_ALLOW_DUPLICATES a name the destination
// already holds gets the first free suffix " (2)", " (3)", ...; without it the
// export is refused.
//
// WIMSetImageInformation stores only NAME, DESCRIPTION, FLAGS, DISPLAYNAME and
// DISPLAYDESCRIPTION; a name another image holds is refused (names compare
// case-sensitively; any number of images may have none). WIMSetBootImage(0)
// clears the boot image.
//
// Threads: any call from any thread. wimlib makes one call at a time on an
// archive: an archive and its images share one lock, and an export holds its
// source's and its destination's. A change, apply or export on an archive that
// is busy with another call (on another thread, or from a callback of that
// very call) fails at once instead of waiting. Attributes, image loading and
// image texts never wait for a running call: they answer from what the
// archive held when it was last read. A call that finds the file changed on
// disk by someone else since then is refused (ChangedOnDisk) and the archive
// read again; see "Several programs on one archive" in imaging_library.h for
// that and the file lock. Message callbacks run on the thread that
// makes the call, with the callbacks registered when it began; see
// WimlibProgress for the messages. The capture root is never left out, and the
// archive's own file never goes into its own image.
//
// NTFS-3G mode (WIM_FLAG_NTFS_VOLUME in the flags of WIMCaptureImage and
// WIMApplyImage): `path` is a block device or a file holding an NTFS volume,
// read or written directly by wimlib through libntfs-3g; see wimlib_ntfs.h
// for what is checked first. A capture reads a volume mounted nowhere or only
// read-only; its WIM_MSG_PROCESS paths are `path` followed by the path within
// the volume ("/dev/sdb1", "/dev/sdb1/Windows/win.ini"). An apply writes to a
// volume mounted nowhere, held open exclusively meanwhile; it adds the image
// to the volume and fails on a name the volume holds already (a freshly
// formatted volume is what it is for). Progress and abort as in the folder case.
//
// Split sets open from their first part, read-only (a write access open is
// refused); a missing or foreign part fails the open (LastError NotFound for a
// missing one), naming it. A handle created with WIM_FLAG_SOLID writes its
// file data in solid resources; an existing solid archive is appended to in
// solid resources by wimlib itself.
class WimlibBackend : public ImagingLibrary
{
public:
    WimlibBackend();
    ~WimlibBackend() override;

    HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                       uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) override;
    bool WIMCloseHandle(HWIM handle) override;
    bool WIMSetTemporaryPath(HWIM wim, const QString &path) override;
    bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) override;
    HWIM WIMLoadImage(HWIM wim, uint32_t index) override;
    bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) override;
    bool WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount) override;
    HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) override;
    // One commit for the image and its texts; a name in use is refused before anything is read.
    HWIM WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags, const QString &xml,
                                        uint32_t byteCount) override;
    bool WIMRefreshFile(HWIM wim, bool *changed) override;
    bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) override;
    bool WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags) override;
    bool WIMDeleteImage(HWIM wim, uint32_t index) override;
    bool WIMSetBootImage(HWIM wim, uint32_t index) override;
    uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) override;
    bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) override;
    QString LastErrorText() const override;
    ImagingError LastError() const override;

    // Extensions (wimlib_browse.cpp): see ImagingLibrary. Browsing goes through
    // the image handle's own WimlibImageView, never the archive's work lock;
    // extraction takes that lock like an apply.
    bool WIMListImageFolder(HWIM image, const QString &path, WimDirEntry *self, QList<WimDirEntry> *children) override;
    bool WIMVisitImageTree(HWIM image, const QString &path, const WimDirVisitor &visit) override;
    bool WIMExtractImagePaths(HWIM image, const QStringList &paths, const QString &destination) override;
    // Extensions (wimlib_media.cpp).
    bool WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags) override;
    bool WIMVerifyFile(HWIM wim, ImagingVerifyResult *result) override;
    bool WIMOptimizeFile(HWIM wim) override;
    // wimlib_update_image, then the commit every change takes. An add whose
    // source holds the archive's own file is refused before anything is read.
    bool WIMUpdateImage(HWIM image, const QList<ImagingUpdate> &updates) override;
    bool WIMSplitOversizedFiles(HWIM wim, uint64_t partSize, QList<ImagingOversizedFile> *files) override;
    // Extensions (wimlib_mount.cpp).
    bool WIMMountImage(HWIM image, const QString &directory, uint32_t mountFlags, const QString &stagingPath) override;
    bool WIMUnmountImage(const QString &directory, uint32_t unmountFlags) override;

private:
    // Records the calling thread's last failure; always false.
    static bool failWith(ImagingError::Kind kind, int systemError, const QString &text);

    struct Handle {
        std::shared_ptr<WimlibArchive> archive;
        uint32_t image = 0;                     // 0 for the archive itself
        std::shared_ptr<WimlibImageView> view;  // image handles: browsing's own view, loaded on first use
    };

    HWIM capture(HWIM wim, const QString &path, uint32_t captureFlags, const wimxml::EditableTexts *texts,
                 const char *call);
    HWIM addHandle(std::shared_ptr<WimlibArchive> archive, uint32_t image);
    std::shared_ptr<const Handle> findHandle(HWIM handle) const;
    std::shared_ptr<WimlibArchive> archiveOf(HWIM wim, const char *call) const;
    std::shared_ptr<const Handle> imageOf(HWIM image, const char *call) const;
    // An image handle whose archive was opened for writing.
    std::shared_ptr<const Handle> writableImageOf(HWIM image, const char *call) const;

    mutable std::mutex m_handleMutex;
    std::unordered_map<const void *, std::shared_ptr<const Handle>> m_handles;
    WimlibCallbacks m_callbacks;
};
