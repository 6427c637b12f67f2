#pragma once

#include "imaging/wim_types.h"
#include "imaging/wimlib_callbacks.h"

#include <QByteArray>
#include <QString>

#include <wimlib.h>

#include <memory>

// Turns wimlib's progress reports during one long call into callback messages,
// on the calling thread:
// - capture: every path wimlib offers becomes WIM_MSG_PROCESS with its keep
//   flag. A kept path we may not read (tested when it is offered; root is
//   not tested on local disk file systems, which refuse it nothing), a name
//   that is not UTF-8 and a folder that cannot be listed are left out and
//   reported as WIM_MSG_ERROR (path, errno); a file of a type an image cannot hold (a pipe, a device, a socket)
//   is left out as WIM_MSG_WARNING (path, EOPNOTSUPP). The capture root is
//   always kept, and an error on it fails the capture. The archive's own file
//   is left out silently.
// - every write or extraction report becomes a WIM_MSG_PROGRESS percentage
//   that never goes back, and is followed by a WIM_MSG_PROCESS with the
//   operation's root path (its keep flag is ignored there) so that an abort
//   answer also stops the long phase.
// - WIM_MSG_ABORT_IMAGE as the answer to any WIM_MSG_PROCESS stops wimlib.
class WimlibProgress
{
public:
    // rootPath: the capture source, the apply target or the destination archive.
    WimlibProgress(std::shared_ptr<const WimlibCallbacks::List> callbacks, const QString &rootPath);

    // A file below the capture root that must never be read (the archive being
    // written), as a path relative to the root. wimlib spells every path as the
    // root followed by the names below it, so a comparison of texts finds it.
    void setOwnFile(const QByteArray &relativePath);

    // NTFS-3G capture: wimlib gives paths relative to the volume with a leading
    // "/". Each is sent as the root path (the volume as the caller named it)
    // followed by that path, the volume's root as the root path alone, so that
    // what follows the root path is the volume-relative path in every mode.
    // No read test: the volume is not reached through the file system.
    void setNtfsVolume() { m_ntfs = true; }

    // A capture: its percentages are shares of its expected time, which is
    // the time until wimlib began to read file data (scanning the tree,
    // comparing it with a reference image) plus the bytes it still has to
    // read (never those of unchanged files it skips) at the rate seen so far.
    // The window's estimate (elapsed time x 100 / percent) is then right
    // also when scanning was most of the work. Starts the clock.
    void countScanTime();

    // capture's percentage after scanMs of scanning and writeMs of reading
    // `done` of `total` bytes; -1 while the rate is unknown (nothing read, or
    // no time measured yet after a scan that took some).
    static int timeSharePercent(int64_t scanMs, int64_t writeMs, uint64_t done, uint64_t total);

    // For wimlib_register_progress_function, with `this` as context.
    static wimlib_progress_status forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context);

    // The file wimlib is writing (fd; -1: none). Its data is handed on to the
    // disk as it comes, so that the sync that ends a commit finds little
    // left to write.
    void setWriteback(int fd) { m_writebackFd = fd; }

    // The call succeeded: make sure the last percentage sent is 100.
    void finish();

    bool aborted() const { return m_aborted; }

    // A WIM_MSG_WARNING naming `text` (a path in the destination), lParam `code`.
    void warn(const QString &text, int code);

private:
    uint32_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) const;
    void report(uint32_t message, const char *path, int code);
    const QString &spell(const char *path);
    bool askToContinue();
    void percent(uint64_t done, uint64_t total);
    void sendPercent(int p);
    void writeProgress(uint64_t done, uint64_t total);
    wimlib_progress_status testExclusion(wimlib_progress_info::wimlib_progress_info_test_file_exclusion &test);
    bool mayBeUnreadable(const char *path);
    wimlib_progress_status handleError(wimlib_progress_info::wimlib_progress_info_handle_error &error);

    const std::shared_ptr<const WimlibCallbacks::List> m_callbacks;
    const QString m_rootPath;
    QString m_pathBuffer;
    QByteArray m_ownRelative;
    QByteArray m_ownPath;
    bool m_rootSeen = false;
    QByteArray m_rootNative;
    const bool m_privileged;
    bool m_folderKnown = false;
    bool m_folderTrusted = false;
    QByteArray m_folder;
    int m_lastPercent = -1;
    int m_writebackFd = -1;
    bool m_aborted = false;
    bool m_ntfs = false;
    bool m_timed = false;
    int64_t m_startMs = 0;
    int64_t m_writeStartMs = -1;  // first report of file data, -1: none yet
};
