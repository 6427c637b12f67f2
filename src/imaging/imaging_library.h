#pragma once

#include "imaging/wim_dir_entry.h"
#include "imaging/wim_types.h"
#include "support/imaging_error.h"

#include <QList>
#include <QString>
#include <QStringList>

// One damaged file found by WIMVerifyFile.
struct ImagingDamagedFile {
    uint32_t image = 0;  // 1-based index of the image that holds it
    QString path;        // its path in the image, "/"-separated from the image's
                         // root ("/Windows/notepad.exe"); empty when the image's
                         // own directory tree is damaged, so no file can be named
    friend bool operator==(const ImagingDamagedFile &, const ImagingDamagedFile &) = default;
};

// A file whose data alone is larger than a split's part size, so that the
// part holding it will be larger than asked (one file's data is never divided
// between parts).
struct ImagingOversizedFile {
    uint32_t part = 0;   // 1-based: the part of the set that will hold it
    uint64_t bytes = 0;  // its data as stored in the archive (compressed)
    uint32_t image = 0;  // an image that holds it, and its path there ("" for an
    QString path;        // image's own metadata, which goes into the first part)
    friend bool operator==(const ImagingOversizedFile &, const ImagingOversizedFile &) = default;
};

// What WIMVerifyFile found.
struct ImagingVerifyResult {
    bool whole = false;                 // every resource matched its checksum
    bool integrityChecked = false;      // the archive has an integrity table, and it was checked
    QList<ImagingDamagedFile> damaged;  // every file whose data is damaged, in image and path order
    QStringList otherDamage;            // damage that no file accounts for (a mismatching
                                        // integrity table, data that no image's file names)
};

// One change of an image's files (WIMUpdateImage). Image paths as in
// browsing: "/"-separated from the image's root, taken literally.
struct ImagingUpdate {
    enum class Kind {
        Add,     // puts the file or folder `source` at `path`
        Delete,  // removes the entry at `path`, a folder with everything below it
        Rename,  // moves the entry at `path` to `newPath`
    };
    Kind kind = Kind::Add;
    QString source;  // Add: a file or folder on disk
    QString path;
    QString newPath;  // Rename
    friend bool operator==(const ImagingUpdate &, const ImagingUpdate &) = default;
};

// The imaging boundary: every call the program makes into the imaging library,
// one member per library call with its name and arguments. Indices are
// 1-based; a null handle or false means failure (LastErrorText() says why,
// for the calling thread's last failed call).
//
// Threads: every call may be made from any thread; a handle is used by one
// thread at a time. Registered callbacks run on the thread that makes the
// long call (capture, apply, export) while it is in progress.
//
// Ownership: handles belong to the caller until WIMCloseHandle; archive and
// image handles may be closed in any order (an image keeps its archive alive).
//
// Several programs on one archive (the window, pellwick-wim, ...): a handle
// stands for the archive as the caller last read it (at its open, after each
// change through it, at WIMRefreshFile). Every call that relies on that view
// (a change; apply, extract and export of an image it names; split, verify)
// first takes the archive's file lock, then checks that the file is still the
// one read (device, inode, size, modification and change times, which also
// tell a file replaced by a rename): if another program changed it, nothing
// is done, the call fails with kind ChangedOnDisk and the handle shows the
// archive as it is now, so that the caller reads its list again and the user
// chooses again. A change checks once more right before it writes, for
// programs that ignore the lock: a change made meanwhile is never cut off.
//
// The file lock (WimlibBackend): an open-file-description record lock over
// the whole archive file (fcntl F_OFD_SETLK), exclusive for a change from
// before it reads the state it relies on to the end of its commit, shared
// for apply, extract, export's source, split and verify. Why this one:
// wimlib takes flock(LOCK_EX | LOCK_NB) on its own descriptor while it
// writes, and an flock of ours on another descriptor would refuse our own
// commit; OFD record locks never interact with flock on Linux, belong to our
// descriptor alone (a classic fcntl lock would vanish when wimlib closes any
// descriptor of the file), and the kernel drops them with the process, so a
// killed program never leaves a lock behind (a lock file would be trusted by
// its mere existence). A rename over the archive (a new archive, optimize)
// is made while holding the old file's lock; the lock is taken again on the
// new file by whoever comes next (the path must still name the locked file),
// and the identity check refuses a handle that read the old one. Opening and
// listing take no lock: our writers append and write the header last, or
// rename, so a read always sees a whole archive. A lock held by another
// process fails at once, kind InUseElsewhere; never waits.
class ImagingLibrary
{
public:
    virtual ~ImagingLibrary() = default;

    // Opens or creates an archive. desiredAccess: WIM_GENERIC_READ_WRITE,
    // WIM_GENERIC_READ or 0 (query only). disposition: WIM_OPEN_EXISTING,
    // WIM_CREATE_ALWAYS (a valid empty archive is on disk when this returns) or
    // WIM_OPEN_ALWAYS (opened when it exists, else created). creationResult,
    // when given, receives WIM_CREATED_NEW or WIM_OPENED_EXISTING. A file that
    // cannot be opened as an archive gives null and is left untouched.
    virtual HWIM WIMCreateFile(const QString &path, uint32_t desiredAccess, uint32_t creationDisposition,
                               uint32_t flagsAndAttributes, uint32_t compressionType, uint32_t *creationResult) = 0;

    virtual bool WIMCloseHandle(HWIM handle) = 0;

    // Directory for the library's temporary files; must exist and be writable.
    virtual bool WIMSetTemporaryPath(HWIM wim, const QString &path) = 0;

    // Fills ImageCount, CompressionType and BootIndex (and WimPath) of info;
    // cbInfo must be at least sizeof(WIM_INFO).
    virtual bool WIMGetAttributes(HWIM wim, WIM_INFO *info, uint32_t cbInfo) = 0;

    // Image `index` (1..ImageCount) of an archive; null outside that range.
    virtual HWIM WIMLoadImage(HWIM wim, uint32_t index) = 0;

    // The image's metadata XML: its own <IMAGE INDEX="n">...</IMAGE> element as
    // UTF-16 text beginning with a byte-order mark (U+FEFF), current after every
    // change. byteCount, when given, receives the text's size in bytes.
    virtual bool WIMGetImageInformation(HWIM image, QString *xml, uint32_t *byteCount) = 0;

    // Stores the NAME, DESCRIPTION, FLAGS, DISPLAYNAME and DISPLAYDESCRIPTION of
    // the given <IMAGE> element and commits. Malformed XML, a name another image
    // holds, or a read-only archive is refused and nothing changes.
    virtual bool WIMSetImageInformation(HWIM image, const QString &xml, uint32_t byteCount) = 0;

    // Appends an image of the folder `path` and commits; returns the new image.
    // Sends WIM_MSG_PROCESS for every file and folder (a cleared keep flag
    // leaves it out; the answer WIM_MSG_ABORT_IMAGE stops the call, which fails
    // and leaves the archive as it was) and WIM_MSG_PROGRESS percentages.
    // With WIM_FLAG_NTFS_VOLUME (an extension) `path` is an NTFS volume (a
    // block device, or a file holding a volume image) mounted nowhere or only
    // read-only, read directly with everything Windows keeps. Each
    // WIM_MSG_PROCESS path is then `path` followed by the "/"-separated path
    // within the volume, the volume's root being `path` alone: what follows
    // `path` is the volume-relative path the exclusion list is written in.
    // Failures before anything is read: LastError() kind Busy (mounted
    // read-write), AccessDenied (the device cannot be opened: not root),
    // NotFound, Unsupported (the library has no NTFS-3G mode), Other (no NTFS
    // file system there).
    // A repeat capture (an extension of this call's behaviour): every image
    // records the source it was captured from, the folder's or the device's
    // canonical path, as <PELLWICK><SOURCE>path</SOURCE></PELLWICK> in its
    // metadata (WIMGetImageInformation shows it; wimlib-imagex and the other
    // texts' edits keep it; an export carries it along). A capture takes as
    // its reference the newest image of the archive (latest CREATIONTIME)
    // that recorded the same source, else none, and reads only the files
    // that differ from it: a file whose path, size of every stream,
    // modification and creation times are those the reference holds, and
    // whose last access time is not earlier, is taken as unchanged and its
    // data is not read again. The new image is the one a full read gives,
    // except for a file changed and then given back its size and times (a
    // tool that restores timestamps after changing a file): it keeps the
    // reference's data. The exclusion decisions are made as always; an
    // excluded file is not in the new image whatever the reference holds.
    // WIM_FLAG_FULL_READ reads every file. A reference that cannot be read
    // (damaged metadata) makes the capture read every file. A capture's
    // WIM_MSG_PROGRESS percentages are shares of its expected time: the time
    // spent before file data is read (scanning, comparing) plus the bytes it
    // reads, never those it skips, at the rate seen so far; so elapsed time
    // x 100 / percent estimates the whole call however much was skipped.
    virtual HWIM WIMCaptureImage(HWIM wim, const QString &path, uint32_t captureFlags) = 0;

    // WIMCaptureImage and WIMSetImageInformation's texts (`xml`, as that
    // takes it; an empty or missing text leaves what the new image holds) in
    // one commit: a kill at any point leaves no new image, or the new image
    // with its texts (an extension). A name another image
    // holds is refused before anything is read. The default makes the two
    // calls; a refusal of the texts then leaves the image without them, is
    // returned as a failure and the image handle is closed.
    virtual HWIM WIMCaptureImageWithInformation(HWIM wim, const QString &path, uint32_t captureFlags,
                                                const QString &xml, uint32_t byteCount)
    {
        HWIM image = WIMCaptureImage(wim, path, captureFlags);
        if (!image || WIMSetImageInformation(image, xml, byteCount))
            return image;
        // A successful close leaves the last failure as it is: the refusal.
        WIMCloseHandle(image);
        return nullptr;
    }

    // Extracts the image into the folder `path`, with progress messages.
    // Names no file here can have are never skipped silently: each entry is a
    // WIM_MSG_WARNING (wParam the path below `path`). One with "/" inside is
    // written with "?" for it and " (invalid filename #N)" after it (EINVAL);
    // "." and ".." entries, which the library leaves out when it reads the
    // image, are named by their folder, by every call (EINVAL); one longer
    // than the file system allows (NAME_MAX bytes; 255 UTF-16 units on an
    // NTFS volume) is written under a shortened name (its beginning, "~" and
    // a hash, its extension), the warning giving that path and
    // "（原名过长：NAME）" (ENAMETOOLONG). The archive keeps its names.
    // With WIM_FLAG_NTFS_VOLUME (an extension) `path` is an NTFS volume
    // mounted nowhere; the image is written into it directly with its security
    // descriptors, attributes, named streams, short names, reparse points and
    // object IDs. Nothing on the volume is replaced: a name it holds already
    // fails the call (format it first). Busy when the volume is mounted or in
    // use, AccessDenied when it cannot be opened for writing (not root).
    // Refused (WouldOverwriteArchive) before anything is written when the
    // image holds an entry where the archive it is read from lies.
    virtual bool WIMApplyImage(HWIM image, const QString &path, uint32_t applyFlags) = 0;

    // Copies the image into the destination archive and commits it.
    virtual bool WIMExportImage(HWIM image, HWIM destinationWim, uint32_t exportFlags) = 0;

    virtual bool WIMDeleteImage(HWIM wim, uint32_t index) = 0;
    virtual bool WIMSetBootImage(HWIM wim, uint32_t index) = 0;

    // Reads the archive again when its file was changed on disk (by another
    // program) since the handle last read it, or a call found it so
    // meanwhile: attributes and texts then show it as it is now, and that is
    // the handle's view from here on (an extension). *changed says whether
    // it was. Busy while a long call runs on the archive. The default, for a
    // library that keeps nothing between calls, has nothing to read again.
    virtual bool WIMRefreshFile(HWIM wim, bool *changed)
    {
        Q_UNUSED(wim);
        if (changed)
            *changed = false;
        return true;
    }

    // Process-wide registration (wim must be null). Returns the callback's
    // index, or INVALID_CALLBACK_VALUE.
    virtual uint32_t WIMRegisterMessageCallback(HWIM wim, WIMMessageCallback callback, void *userData) = 0;
    virtual bool WIMUnregisterMessageCallback(HWIM wim, WIMMessageCallback callback) = 0;

    // Text of the calling thread's last failure, for logs and the command-line driver.
    virtual QString LastErrorText() const = 0;

    // The calling thread's last failure with its kind and system error number.
    // The default knows only the text (kind Other); while that is empty, the
    // last call on the thread that a default body refused (kind Unsupported).
    virtual ImagingError LastError() const;

    // ---- Extensions beyond the platform library's calls ----
    // What the Windows imaging library does not offer (browsing and extracting,
    // split sets, verify, optimize, ...); a wimgapi backend would serve them
    // another way. Each is a virtual with a default body here that fails with
    // LastError() kind Unsupported, so that a library without it says so;
    // WimlibBackend serves it.

    // Browsing. Image paths are "/" separated and begin with "/" ("" is the
    // root too); names compare case-sensitively, and a path is taken
    // literally (no wildcards). A name that holds "/" cannot be named by a
    // path (it reads as two names); its folder still lists it.

    // One entry of an image and the entries directly inside it: `self`, when
    // given, receives the entry at `path`; `children`, when given, receives
    // the entries of that folder in the image's own order, none when `path`
    // is not a folder. Reads the image's metadata only, never file data: a
    // link's target comes from its own few bytes of link data, read from the
    // archive (in a solid or pipable archive, by extracting the folder's
    // links alone into a temporary folder under WIMSetTemporaryPath's).
    // Cost: the first call on an image handle reads the image's whole tree
    // (about what wimlib-imagex dir of the image takes, less its printing),
    // through the archive's library state when no call is using it and the
    // calling thread is the one that opened the archive (the archive then
    // reads its file again before its next long call), else through a new
    // one (reading the archive's index of its data once more); later calls answer from memory in time
    // proportional to the folder, until the archive's file changes on disk,
    // which makes the next call read it again. The tree stays in memory until
    // WIMCloseHandle of the image handle, which frees it (about half the time
    // reading took): close a browsed handle off the UI thread.
    // Threads: any thread; calls on one handle wait for each other. It never
    // waits for, and is never refused because of, a long call on the same
    // archive (an apply or extraction runs beside it): each image handle
    // browses through its own read-only view of the archive's file (taking
    // the archive's work lock only without waiting, and only for a few
    // microseconds, the first time). A path
    // the image does not hold fails with LastError() kind NotFound.
    virtual bool WIMListImageFolder(HWIM image, const QString &path, WimDirEntry *self, QList<WimDirEntry> *children)
    {
        Q_UNUSED(image);
        Q_UNUSED(path);
        Q_UNUSED(self);
        Q_UNUSED(children);
        return unsupported("WIMListImageFolder");
    }

    // Calls `visit` for the entry at `path` of the image and for every entry
    // below it, depth first, each folder's entries in the image's own order
    // (the lines of wimlib-imagex dir), until `visit` returns false, which
    // fails the call with kind Aborted. For a caller that keeps nothing of
    // each entry: a view is the library's own data, no copy, and link
    // targets are not read. Cost, threads and failures as for
    // WIMListImageFolder; the walk holds the image handle throughout (other
    // calls on it wait), so `visit` must not call the library with it.
    virtual bool WIMVisitImageTree(HWIM image, const QString &path, const WimDirVisitor &visit)
    {
        Q_UNUSED(image);
        Q_UNUSED(path);
        Q_UNUSED(visit);
        return unsupported("WIMVisitImageTree");
    }

    // Extracts the entries at `paths` of the image into the existing folder
    // `destination`, each under its own name there (a folder with everything
    // below it; the root "/" gives its contents; an entry that lies inside
    // another chosen folder lands only there, as with wimlib-imagex extract),
    // as an apply would write them (names that cannot be file names here as
    // WIMApplyImage says), links are written as links (absolute targets as stored,
    // not fixed up) and never followed, nothing is written outside
    // `destination`.
    // An existing file of the same name is replaced, an existing folder is
    // merged into (each chosen entry appears at once, old or complete: see
    // StagedExtraction::moveIntoPlace); a folder where a file exists, or the
    // reverse, fails, and so does replacing the archive's own file (kind
    // WouldOverwriteArchive).
    // Sends WIM_MSG_PROGRESS percentages and, after each, WIM_MSG_PROCESS
    // with `destination`, whose answer WIM_MSG_ABORT_IMAGE stops the call.
    // A path is the names from the root joined by "/", as listed; an entry
    // whose name holds "/" or "\\" is named so too, unless that path could
    // name another entry as well.
    // All or nothing: every path is looked up first (a missing one fails with
    // kind NotFound, naming it) and the entries are written into a hidden
    // folder ".pellwick-extract-XXXXXX" inside `destination`, moved into
    // place only when all of them are complete (every conflict is found
    // before anything moves); a failure or an abort removes that folder and
    // leaves `destination` as it was (kind Aborted after an abort), so no
    // partial file is ever left under a real name (wimlib sets a file's full
    // size before writing it). Only a killed process leaves the hidden folder.
    // Threads: like WIMApplyImage: refused at once (kind Busy) while another
    // long call or change runs on the same archive.
    virtual bool WIMExtractImagePaths(HWIM image, const QStringList &paths, const QString &destination)
    {
        Q_UNUSED(image);
        Q_UNUSED(paths);
        Q_UNUSED(destination);
        return unsupported("WIMExtractImagePaths");
    }

    // Changes the files of the image in one commit, through the append path
    // of every change (a kill at any write or a full disk leaves the image
    // as it was or with every update made), under the archive's exclusive
    // file lock with the stale check (ChangedOnDisk) like every change. The
    // updates apply in order, as wimlib-imagex update's add, delete
    // --recursive and rename do:
    // - Add: a file becomes the entry `path` (a file there is replaced, a
    //   folder there fails); a folder's contents go into the folder `path`,
    //   made when missing and merged into when present (files of the same
    //   name replaced; a folder where a file is, or the reverse, fails).
    //   Folders above `path` are made when missing. Links are stored as links.
    // - Delete: the entry at `path`, with everything below a folder.
    // - Rename: as rename(2) does on a disk; the folder above `newPath` must
    //   exist, an existing empty folder or a file there is replaced.
    // All or nothing: one failing update (a missing path: NotFound; a source
    // that cannot be read; a clash) leaves the image and the archive as they
    // were, and the failure's text names the update by its number and
    // content. Sends WIM_MSG_PROCESS for every file and folder an add reads
    // (a cleared keep flag leaves it out; WIM_MSG_ABORT_IMAGE stops the call:
    // kind Aborted, nothing written) and WIM_MSG_PROGRESS percentages of the
    // write. The image's texts and the other images stay as they are; the
    // image's counts and modification time are renewed. Refused without
    // write access (ArchiveReadOnly) and while another call runs on the
    // archive (Busy). An empty list changes nothing and succeeds.
    // The default fails with LastError() kind Unsupported.
    virtual bool WIMUpdateImage(HWIM image, const QList<ImagingUpdate> &updates)
    {
        Q_UNUSED(image);
        Q_UNUSED(updates);
        return unsupported("WIMUpdateImage");
    }

    // Split sets, ESD and conversion need no call of their own: WIMCreateFile
    // opens the first part of a split set (NAME.swm, with NAME2.swm,
    // NAME3.swm, ... beside it) read-only, WIM_INFO gives PartNumber and
    // TotalParts, and an export into an archive that WIMCreateFile creates
    // with WIM_FLAG_SOLID (see wim_types.h) writes an ESD.

    // Writes the archive as a split set: `firstPart` (normally NAME.swm) and
    // NAME2.swm, NAME3.swm, ... beside it, each at most partSize bytes (one
    // file's data larger than that gets a part of its own). The parts are
    // written under locked temporary names and synced (a failure or an abort
    // leaves every existing file as it was), then take their names, the first
    // part last: even a kill never leaves a mixed set. WIM_MSG_PROGRESS, each
    // followed by a WIM_MSG_PROCESS with firstPart, whose answer
    // WIM_MSG_ABORT_IMAGE stops the call. Refused for a solid archive (ESD:
    // export it as a WIM first), a split set, and a firstPart or part name
    // that is the archive itself. flags: 0.
    virtual bool WIMSplitFile(HWIM wim, const QString &firstPart, uint64_t partSize, uint32_t flags)
    {
        Q_UNUSED(wim);
        Q_UNUSED(firstPart);
        Q_UNUSED(partSize);
        Q_UNUSED(flags);
        return unsupported("WIMSplitFile");
    }

    // What WIMSplitFile with this partSize would put into parts larger than
    // it: every file whose stored data alone exceeds it, with the part that
    // will hold it, in part order (empty when every part keeps to the size).
    // Reads the archive's metadata, not its file data. The refusals of
    // WIMSplitFile apply.
    virtual bool WIMSplitOversizedFiles(HWIM wim, uint64_t partSize, QList<ImagingOversizedFile> *files)
    {
        Q_UNUSED(wim);
        Q_UNUSED(partSize);
        Q_UNUSED(files);
        return unsupported("WIMSplitOversizedFiles");
    }

    // Checks every resource of the archive (and its integrity table, where it
    // has one) against its checksum, with WIM_MSG_PROGRESS and WIM_MSG_PROCESS
    // as WIMSplitFile but with the archive's path (an abort fails the call).
    // True when the check ran to its end, whole or not: *result then says
    // which, and names every damaged file. False when it could not run (not
    // an archive handle, no read access, aborted, the archive gone, no room
    // for the files the search for damaged ones extracts: see WimlibVerifier).
    // A whole archive is read once; a damaged one about three times.
    virtual bool WIMVerifyFile(HWIM wim, ImagingVerifyResult *result)
    {
        Q_UNUSED(wim);
        Q_UNUSED(result);
        return unsupported("WIMVerifyFile");
    }

    // Rebuilds the archive into a temporary file beside it and renames that
    // over the archive: the space of deleted images and of data no image uses
    // any more is given back; images, texts, boot image and integrity table
    // stay, and so does the file's mode. Progress and abort as WIMVerifyFile.
    // A failure, an abort, a kill or a full disk leaves the archive as it was
    // (a kill may leave the temporary file). Refused without write access and
    // for a split set. The handle goes on with the rebuilt archive.
    virtual bool WIMOptimizeFile(HWIM wim)
    {
        Q_UNUSED(wim);
        return unsupported("WIMOptimizeFile");
    }

    // Mounting an image as a folder through FUSE (Linux).
    //
    // Checks, before anything is touched, that this process may mount (a
    // /dev/fuse it may open, and root or fusermount: else AccessDenied or
    // Unsupported with the cause) and that `directory` is an empty folder
    // that is no mount point; then mounts the image there, read-only, or
    // read-write with WIM_MOUNT_FLAG_READWRITE, its changed and new files
    // kept in a folder the library makes inside `stagingPath` (read-write
    // only; "" is the archive's folder) and removes at the unmount.
    // A read-write mount takes the archive's exclusive file lock (with the
    // stale check of every change) and holds it until the unmount, so no
    // other change reaches the archive meanwhile; a read-only one checks the
    // file and holds nothing (appends leave what it reads in place).
    // The mount is served by a process of its own: this call makes the
    // calling process a daemon (it forks; the process that called it ends,
    // exit status 0, once the mount is up) and returns in the serving
    // process only, after the unmount, true when it served. Only a process
    // made for it (pellwick-wim mount) calls it; early failures return in
    // the caller as usual. The default fails with kind Unsupported.
    virtual bool WIMMountImage(HWIM image, const QString &directory, uint32_t mountFlags, const QString &stagingPath)
    {
        Q_UNUSED(image);
        Q_UNUSED(directory);
        Q_UNUSED(mountFlags);
        Q_UNUSED(stagingPath);
        return unsupported("WIMMountImage");
    }

    // Unmounts the image mounted at `directory` (by any process of this
    // user). With WIM_UNMOUNT_FLAG_COMMIT a read-write mount's changes are
    // written into the archive first, with WIM_MSG_PROGRESS percentages (the
    // commit cannot be aborted), through the append path: a kill or a full
    // disk leaves the archive as it was or with the changes. Open files in
    // the mount fail the call with kind Busy and leave it mounted, changes
    // and all; no mount there: NotFound. The serving process removes the
    // staging folder (and ends) just after this call has returned. The
    // default fails (Unsupported).
    virtual bool WIMUnmountImage(const QString &directory, uint32_t unmountFlags)
    {
        Q_UNUSED(directory);
        Q_UNUSED(unmountFlags);
        return unsupported("WIMUnmountImage");
    }

protected:
    // What a default body of an extension returns: false, with kind
    // Unsupported recorded for the calling thread (see LastError()).
    static bool unsupported(const char *call);
};

// The process-wide instance. The wimlib backend unless replaced.
ImagingLibrary &imaging();

// Replaces the process-wide instance (tests); nullptr restores the default.
// The caller keeps ownership and keeps it alive while it is installed.
void setImaging(ImagingLibrary *library);

// Installs a replacement for the lifetime of a scope.
class ScopedImaging
{
public:
    explicit ScopedImaging(ImagingLibrary *library) { setImaging(library); }
    ~ScopedImaging() { setImaging(nullptr); }
    ScopedImaging(const ScopedImaging &) = delete;
    ScopedImaging &operator=(const ScopedImaging &) = delete;
};
