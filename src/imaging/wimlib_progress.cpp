#include "imaging/wimlib_progress.h"

#include "imaging/wimlib_messages.h"
#include "support/clock.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Local disk file systems, where the kernel lets root read every file.
bool rootReadsEverything(decltype(statfs::f_type) type)
{
    switch (type) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0x4D44:      // vfat
    case 0x2011BAB0:  // exfat
    case 0x7366746E:  // ntfs3
    case 0x794C7630:  // overlayfs
        return true;
    default: return false;
    }
}

}  // namespace

WimlibProgress::WimlibProgress(std::shared_ptr<const WimlibCallbacks::List> callbacks, const QString &rootPath)
    : m_callbacks(std::move(callbacks)), m_rootPath(rootPath), m_privileged(::geteuid() == 0)
{}

void WimlibProgress::setOwnFile(const QByteArray &relativePath)
{
    m_ownRelative = relativePath;
}

uint32_t WimlibProgress::send(uint32_t message, uintptr_t wParam, intptr_t lParam) const
{
    uint32_t answer = WIM_MSG_SUCCESS;
    for (const WimlibCallbacks::Entry &entry : *m_callbacks) {
        if (entry.callback(message, wParam, lParam, entry.userData) == WIM_MSG_ABORT_IMAGE)
            answer = WIM_MSG_ABORT_IMAGE;
    }
    return answer;
}

void WimlibProgress::report(uint32_t message, const char *path, int code)
{
    if (m_callbacks->empty())
        return;
    spell(path);
    send(message, reinterpret_cast<uintptr_t>(m_pathBuffer.utf16()), code);
}

void WimlibProgress::warn(const QString &text, int code)
{
    if (m_callbacks->empty())
        return;
    m_pathBuffer = text;
    send(WIM_MSG_WARNING, reinterpret_cast<uintptr_t>(m_pathBuffer.utf16()), code);
}

const QString &WimlibProgress::spell(const char *path)
{
    if (!path)
        m_pathBuffer = m_rootPath;
    else if (!m_ntfs)
        m_pathBuffer = QFile::decodeName(path);
    else if (std::strcmp(path, "/") == 0)
        m_pathBuffer = m_rootPath;
    else
        m_pathBuffer = m_rootPath + QString::fromUtf8(path);
    return m_pathBuffer;
}

bool WimlibProgress::askToContinue()
{
    if (m_aborted)
        return false;
    if (m_callbacks->empty())
        return true;
    int32_t keep = 1;
    if (send(WIM_MSG_PROCESS, reinterpret_cast<uintptr_t>(m_rootPath.utf16()), reinterpret_cast<intptr_t>(&keep))
        == WIM_MSG_ABORT_IMAGE)
        m_aborted = true;
    return !m_aborted;
}

void WimlibProgress::percent(uint64_t done, uint64_t total)
{
    if (total == 0)
        return;
    // wimlib's total can shrink while it writes (duplicates found late): clamp.
    sendPercent(int(std::min<uint64_t>(100, done >= total ? 100 : done * 100 / total)));
}

void WimlibProgress::sendPercent(int p)
{
    if (p <= m_lastPercent)
        return;
    m_lastPercent = p;
    send(WIM_MSG_PROGRESS, uintptr_t(p), 0);
}

void WimlibProgress::countScanTime()
{
    m_timed = true;
    m_startMs = appClock().monotonicMs();
}

int WimlibProgress::timeSharePercent(int64_t scanMs, int64_t writeMs, uint64_t done, uint64_t total)
{
    if (total == 0)
        return -1;
    if (done >= total)
        return 100;
    if (scanMs <= 0 && writeMs <= 0)
        return int(done * 100 / total);
    if (done == 0 || writeMs <= 0)
        return -1;
    const double scan = double(std::max<int64_t>(scanMs, 0));
    const double spent = scan + double(writeMs);
    const double expected = scan + double(writeMs) * double(total) / double(done);
    return int(std::min(99.0, spent * 100.0 / expected));
}

void WimlibProgress::writeProgress(uint64_t done, uint64_t total)
{
    if (!m_timed) {
        percent(done, total);
        return;
    }
    const int64_t now = appClock().monotonicMs();
    if (m_writeStartMs < 0)
        m_writeStartMs = now;
    const int p = timeSharePercent(m_writeStartMs - m_startMs, now - m_writeStartMs, done, total);
    if (p >= 0)
        sendPercent(p);
}

void WimlibProgress::finish()
{
    if (m_lastPercent < 100) {
        m_lastPercent = 100;
        send(WIM_MSG_PROGRESS, 100, 0);
    }
}

wimlib_progress_status
WimlibProgress::testExclusion(wimlib_progress_info::wimlib_progress_info_test_file_exclusion &test)
{
    const bool isRoot = !m_rootSeen;
    if (isRoot) {
        m_rootSeen = true;
        m_rootNative = test.path;
        if (!m_ownRelative.isEmpty())
            m_ownPath = m_rootNative + (m_rootNative.endsWith('/') ? "" : "/") + m_ownRelative;
    }
    if (!m_callbacks->empty()) {
        spell(test.path);
        int32_t keep = 1;
        if (send(WIM_MSG_PROCESS, reinterpret_cast<uintptr_t>(m_pathBuffer.utf16()), reinterpret_cast<intptr_t>(&keep))
            == WIM_MSG_ABORT_IMAGE) {
            m_aborted = true;
            return WIMLIB_PROGRESS_STATUS_ABORT;
        }
        // Without its root an image has no tree at all; the root stays.
        if (keep == 0 && !isRoot) {
            test.will_exclude = true;
            return WIMLIB_PROGRESS_STATUS_CONTINUE;
        }
    }
    if (isRoot || m_ntfs)
        return WIMLIB_PROGRESS_STATUS_CONTINUE;

    if (!m_ownPath.isEmpty() && m_ownPath == test.path) {
        test.will_exclude = true;
        return WIMLIB_PROGRESS_STATUS_CONTINUE;
    }
    // wimlib reads file data only while it writes, and one unreadable file
    // would then fail the whole write: find it now and leave it out. One
    // access test per path (the link itself for a symbolic link) keeps this
    // cheap and opens no device or pipe; a path that is gone is left to
    // wimlib, which reports it through HANDLE_ERROR.
    if (mayBeUnreadable(test.path) && ::faccessat(AT_FDCWD, test.path, R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0
        && errno != ENOENT) {
        const int error = errno;
        test.will_exclude = true;
        report(WIM_MSG_ERROR, test.path, error);
    }
    return WIMLIB_PROGRESS_STATUS_CONTINUE;
}

bool WimlibProgress::mayBeUnreadable(const char *path)
{
    if (!m_privileged)
        return true;
    // Root reads everything on a local disk file system; only network and
    // user-space file systems may refuse it. Asked once per folder.
    const char *slash = std::strrchr(path, '/');
    const qsizetype length = slash ? qsizetype(slash - path) : 0;
    if (!m_folderKnown || m_folder.size() != length || std::memcmp(m_folder.constData(), path, size_t(length)) != 0) {
        m_folder = QByteArray(path, length);
        struct statfs fs;
        const char *folder = length > 0 ? m_folder.constData() : (slash ? "/" : ".");
        m_folderTrusted = ::statfs(folder, &fs) == 0 && rootReadsEverything(fs.f_type);
        m_folderKnown = true;
    }
    return !m_folderTrusted;
}

wimlib_progress_status WimlibProgress::handleError(wimlib_progress_info::wimlib_progress_info_handle_error &error)
{
    const int code = errno != 0 ? errno : EIO;
    if (!error.path || m_rootNative == error.path)
        return WIMLIB_PROGRESS_STATUS_CONTINUE;  // not ignored: the capture fails
    error.will_ignore = true;
    report(WIM_MSG_ERROR, error.path, code);
    return WIMLIB_PROGRESS_STATUS_CONTINUE;
}

wimlib_progress_status WimlibProgress::forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context)
{
    auto *self = static_cast<WimlibProgress *>(context);
    switch (message) {
    case WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION: return self->testExclusion(info->test_file_exclusion);
    case WIMLIB_PROGRESS_MSG_HANDLE_ERROR: return self->handleError(info->handle_error);
    case WIMLIB_PROGRESS_MSG_SCAN_DENTRY:
        if (info->scan.status == wimlib_progress_info::wimlib_progress_info_scan::WIMLIB_SCAN_DENTRY_UNSUPPORTED)
            self->report(WIM_MSG_WARNING, info->scan.cur_path, EOPNOTSUPP);
        return WIMLIB_PROGRESS_STATUS_CONTINUE;
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
        if (self->m_writebackFd >= 0)
            ::sync_file_range(self->m_writebackFd, 0, 0, SYNC_FILE_RANGE_WRITE);
        self->writeProgress(info->write_streams.completed_bytes, info->write_streams.total_bytes);
        break;
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
        self->percent(info->extract.completed_bytes, info->extract.total_bytes);
        break;
    case WIMLIB_PROGRESS_MSG_EXTRACT_FILE_STRUCTURE:
    case WIMLIB_PROGRESS_MSG_EXTRACT_METADATA:
    case WIMLIB_PROGRESS_MSG_WRITE_METADATA_BEGIN: break;
    default: return WIMLIB_PROGRESS_STATUS_CONTINUE;
    }
    return self->askToContinue() ? WIMLIB_PROGRESS_STATUS_CONTINUE : WIMLIB_PROGRESS_STATUS_ABORT;
}
