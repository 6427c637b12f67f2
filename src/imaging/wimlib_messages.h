#pragma once

#include <QString>

// wimlib names the file and the cause of some failures (NTFS-3G's above
// all, whose errno it does not keep) only in the messages it prints. These
// are caught per thread instead of printed: each thread keeps the tail of
// what wimlib printed on it.
namespace wimlibmessages {

// Sends wimlib's messages to the per-thread buffers. Call once, while no
// other thread is in wimlib (wimlib's rule for its global settings).
void install();

// Forgets what the calling thread's wimlib calls printed so far.
void clear();

// The last "[ERROR] ..." message printed on the calling thread since clear(),
// without its prefix; "" when there was none.
QString lastError();

// The entries that an extraction on the calling thread since clear() could
// not write under their own names, as wimlib warned of them: `path` is the
// image path of an entry with "/" in its name (written under another name:
// WIMLIB_EXTRACT_FLAG_REPLACE_INVALID_FILENAMES), or the folder whose "." or
// ".." entry wimlib left out when it read the image (`skipped`).
struct UnwritableName {
    QString path;
    bool skipped = false;
};
QList<UnwritableName> unwritableNames();

}  // namespace wimlibmessages
