#pragma once

#include "imaging/imaging_library.h"

#include <QString>

// NTFS-3G mode of the wimlib backend (WIM_FLAG_NTFS_VOLUME): what is checked
// before wimlib opens a volume, and the words for its failures. libntfs-3g
// itself opens a volume that the kernel or ntfs-3g has mounted without a
// word, and an apply onto a mounted volume corrupts it: these checks are what
// stands between the two.
namespace wimlibntfs {

// An exclusive open of a block device (O_EXCL), held while an image is
// applied to it so that nothing mounts the volume meanwhile; libntfs-3g's own
// open is not exclusive and is not stopped by it. Empty for a volume image
// in a regular file.
class VolumeClaim
{
public:
    VolumeClaim() = default;
    ~VolumeClaim();
    VolumeClaim(const VolumeClaim &) = delete;
    VolumeClaim &operator=(const VolumeClaim &) = delete;

    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// Whether `path` may be captured from: a block device or a regular file that
// we may read, holding an NTFS file system, and (a device) mounted nowhere
// read-write. Kind None when it may.
ImagingError checkCaptureSource(const QString &path);

// Whether an image may be applied to `path`: a block device we may open
// exclusively for writing (so mounted nowhere), or a regular file we may
// write, holding an NTFS file system. On success `claim` holds the device
// until it is reset or destroyed.
ImagingError claimApplyTarget(const QString &path, VolumeClaim *claim);

// The failure of a wimlib call in NTFS-3G mode, with errno as it was right
// after the call and the error message wimlib printed on this thread
// (wimlibmessages): libntfs-3g's cause is in one of them.
ImagingError failure(const QString &what, int wimlibCode, int savedErrno, const QString &printed);

}  // namespace wimlibntfs
