#pragma once

#include "imaging/imaging_library.h"
#include "operations/drive_format.h"
#include "support/platform.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Applying onto and capturing from a drive whose filesystem is NTFS through
// the imaging library's NTFS-3G mode (WIM_FLAG_NTFS_VOLUME) on its block
// device, which keeps what Windows needs and an ntfs-3g mount loses. The
// library reads and writes the device itself, so the drive must be unmounted
// for an apply and must not be writable during a capture; these helpers do
// that around the library call and give the drive back as it was. Every
// command goes through `run` (formatCommandRunner() in the program, a fake in
// tests). Each blocks until its commands and the library call have ended:
// call it from a worker.

// A mounted drive that holds NTFS.
struct NtfsDrive {
    QString mountPoint;  // where it is mounted, canonical
    QString device;      // its block device, for the library call
    QString mountType;   // as the mount table has it: "fuseblk" (ntfs-3g), "ntfs3", ...
    bool readOnly = false;
    QStringList flags;  // the mount's own flags mount takes back for any filesystem (nosuid, noexec, ...)
};

struct NtfsProbe {
    enum Result {
        NotNtfs,  // not mounted there, not a block device, or another filesystem: the ordinary way
        Ntfs,     // `drive` is filled
        Unknown,  // the filesystem could not be told (not root, blkid failed): `detail` says why
    };
    Result result = NotNtfs;
    NtfsDrive drive;
    QString detail;
};

// Whether the drive mounted at `mountPoint` holds NTFS. The mount table tells
// for kernel drivers ("ntfs3", "ntfs" yes; "ext4", "vfat", ... no); ntfs-3g
// and other FUSE drivers show as "fuseblk", whose device is probed
// (`blkid -p`), which needs root.
NtfsProbe ProbeNtfsDrive(const QString &mountPoint, bool privileged, const FormatCommandRunner &run);
// The same for a mount table entry already read (nullopt: nothing mounted).
NtfsProbe ProbeNtfsMount(const std::optional<platform::MountEntry> &mount, bool privileged,
                         const FormatCommandRunner &run);

struct NtfsDriveOutcome {
    enum Stage {
        Refused,      // nothing was run: the drive may not be used this way (`detail`)
        NotReleased,  // it could not be unmounted or made read-only; the library was not called (`detail`)
        Restored,     // the library call ran (`callSucceeded`) and the drive is mounted as it was
        NotRestored,  // the library call ran (`callSucceeded`), but the drive could not be mounted
                      // back, or stayed read-only (`detail`, for the user)
    };
    Stage stage = Refused;
    bool callSucceeded = false;
    QString detail;  // Simplified Chinese, for beneath the window's message

    // What to show beneath the message of a failed call: the call's own
    // cause once it was made, else why it was not.
    QString failureDetail(const QString &callCause) const
    {
        return stage == Restored || stage == NotRestored ? callCause : detail;
    }
};

// The library call on the device, e.g. WIMApplyImage(image, device, flags | WIM_FLAG_NTFS_VOLUME).
using NtfsVolumeCall = std::function<bool(const QString &device)>;

// Unmounts the drive, makes `apply` on its device, and mounts it back at the
// same place with its type (ntfs-3g for "fuseblk"), its read-only flag and
// its flags, whatever `apply` returned; the filesystem's own options are not
// kept (ntfs-3g's do not show in the mount table). A guardian process gives
// the drive back the same way if the program ends while it is unmounted. Refused without root and when one of
// `mustStayMounted` (the open archive, the working directory) lies on the drive.
NtfsDriveOutcome ApplyOntoNtfsDrive(const NtfsDrive &drive, bool privileged, const QStringList &mustStayMounted,
                                    const NtfsVolumeCall &apply, const FormatCommandRunner &run);

// Makes `capture` on the drive's device while the volume is not writable: a
// drive mounted read-only is left as it is; otherwise it is remounted
// read-only and back to read-write afterwards, or, when it cannot be
// remounted, unmounted and mounted back as ApplyOntoNtfsDrive does. Refused
// without root, for the system drive, and when one of `mustStayWritable`
// (the open archive, the working directory) lies on the drive.
NtfsDriveOutcome CaptureFromNtfsDrive(const NtfsDrive &drive, bool privileged, const QStringList &mustStayWritable,
                                      const NtfsVolumeCall &capture, const FormatCommandRunner &run);

// What an unmounted drive lacks to be mounted back: for "fuseblk", mount's
// helper for ntfs-3g in `helperDir` (where mount looks for it). "" when
// nothing is missing; else why, for the user. Asked before a drive is
// unmounted, so that a missing ntfs-3g never leaves it unmounted.
// The command a guardian gives the drive back with when the program dies while
// writing the volume: after a kill in the middle of that (an apply) ntfs-3g
// may refuse it ("$MFTMirr does not match $MFT"); ntfsfix then repairs what
// the interrupted write left, and the drive is mounted with what it holds.
QString NtfsMountBackAfterWriteCommand(const NtfsDrive &drive);

QString NtfsMountBackMissing(const NtfsDrive &drive, const QString &helperDir = QStringLiteral("/sbin"));

// Why a library call in NTFS-3G mode on `device` failed, for beneath the
// window's message: a device still in use, no root, a library without
// NTFS-3G, a name the volume holds already; else the common cause.
QString NtfsCallCause(const ImagingError &error, const QString &device);
