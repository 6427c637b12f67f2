#pragma once

#include "imaging/imaging_library.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <wimlib.h>

#include <vector>

class WimlibProgress;

// Checks an archive file (a split set through its first part) against its
// checksums, for WIMVerifyFile.
//
// Fast path: wimlib's own check of the integrity table (while opening the
// file again, when the archive has one) and of every resource
// (wimlib_verify_wim, on the archive's WIMStruct otherwise), which reads
// the archive once and stops at its first damaged resource. Only when it
// fails are the damaged files looked for: every file's data is mapped to the
// paths that name it (wimlib_iterate_dir_tree), and each piece of data is
// checked by extracting its first file, in batches of up to kBatchBytes,
// into a scratch folder (verification is what extraction does anyway); a
// batch that fails is checked again in kParts parts until the damaged files
// stand alone. A whole archive is read once, as wimlib-imagex verify reads
// it; a damaged one about twice more, and every file of it is written to the
// scratch folder about 1.15 times. The scratch folder is /dev/shm (memory)
// while it has room for a batch twice over, else the temporary folder: the
// creation and removal of thousands of small files is what costs. Measured
// here (2,000 files, 19 MB, LZX, on a machine shared with other builds): 0.1 s
// whole; damaged, 0.37 s through /dev/shm and 12 s through a busy ext4
// temporary folder (1.5 s of it in the kernel). Named data
// streams are not extracted on Linux: damage there counts as damage that no
// file accounts for.
class WimlibVerifier
{
public:
    static constexpr uint64_t kBatchBytes = 128ull << 20;
    // A failing batch is checked again in this many parts: with one damaged
    // file among n, about 1.15 n files are extracted instead of 2 n halving.
    static constexpr size_t kParts = 8;

    // archive: the archive's own WIMStruct (a split set's with its parts
    // referenced), read from `path`; it loads every image's metadata and keeps
    // no progress function. temporaryFolder: where the search extracts when
    // /dev/shm has no room (it needs room for one batch, or for one file when
    // a file is larger).
    WimlibVerifier(WIMStruct *archive, const QByteArray &path, const QString &temporaryFolder,
                   WimlibProgress &progress);

    // 0 when the check ran to its end (*result filled), else a wimlib error
    // code (WIMLIB_ERR_ABORTED_BY_PROGRESS for an abort) with errorText().
    int run(ImagingVerifyResult *result);
    const QString &errorText() const { return m_error; }
    // errno of the failure, when a file or folder was at fault; else 0.
    int systemError() const { return m_systemError; }

private:
    struct Blob {
        QByteArray firstPath;  // the file that is extracted to check it
        uint32_t image = 0;
        uint64_t size = 0;
        bool missing = false;    // the archive has no data of that checksum
        uint64_t order[3] = {};  // where it lies: part, resource, offset in it
        QList<ImagingDamagedFile> files;
    };

    static wimlib_progress_status forward(wimlib_progress_msg message, wimlib_progress_info *info, void *context);
    static int collect(const wimlib_dir_entry *entry, void *context);
    wimlib_progress_status report(uint64_t done, uint64_t total);
    int open(WIMStruct **wim, int openFlags);
    int search(WIMStruct *wim, ImagingVerifyResult *result);
    int check(WIMStruct *wim, uint32_t image, std::vector<int> blobs, bool knownToFail, ImagingVerifyResult *result);
    QString scratchFolder(uint64_t bytes);
    int checkParts(WIMStruct *wim, uint32_t image, const std::vector<int> &blobs, ImagingVerifyResult *result);
    int fail(int code, const QString &text);

    WIMStruct *const m_archive;
    const QByteArray m_path;
    const QString m_temporaryFolder;
    WimlibProgress &m_progress;
    QString m_error;
    int m_systemError = 0;

    // Progress: every phase maps its own [0, total] onto [m_base, m_end] of 1000.
    uint64_t m_base = 0;
    uint64_t m_end = 1000;
    uint64_t m_reached = 0;
    uint64_t m_resolved = 0;  // bytes of data found whole or damaged by the search
    uint64_t m_searchTotal = 0;
    uint64_t m_batchBytes = 0;
    bool m_searching = false;

    std::vector<Blob> m_blobs;
    QHash<QByteArray, int> m_blobIndex;  // SHA-1 -> index in m_blobs
    uint32_t m_image = 0;                // the image being mapped
};
