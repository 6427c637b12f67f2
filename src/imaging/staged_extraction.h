#pragma once

#include <QString>

#include <sys/types.h>

// An extraction that appears in its destination all at once: the library
// writes into a hidden folder inside the destination (same file system, so
// that entries move by rename), and only a complete result is moved into
// place. What it leaves on failure is that hidden folder, removed by the
// destructor unless the move succeeded; only a killed process leaves it, and
// the next extraction into that destination removes it: the folder's writer
// holds an exclusive flock on it as long as it lives, so one that can be
// locked has lost its writer.
class StagedExtraction
{
public:
    // Makes ".pellwick-extract-XXXXXX" (mode 0700) inside `destination`.
    explicit StagedExtraction(const QString &destination);
    ~StagedExtraction();
    StagedExtraction(const StagedExtraction &) = delete;
    StagedExtraction &operator=(const StagedExtraction &) = delete;

    // Removes the hidden folders in `destination` whose writers are gone.
    static void removeAbandoned(const QString &destination);
    // True for a folder name of our pattern.
    static bool isOurs(const char *name);

    // "" when the folder could not be made (error() says why).
    const QString &folder() const { return m_folder; }

    // A file that moveIntoPlace must never replace (the archive being read,
    // under any of its names): meeting it fails the move before anything moves.
    void protect(const QString &path);
    bool hitProtected() const { return m_hitProtected; }

    // Moves everything in folder() into the destination as an extraction in
    // place would leave it: new names are renamed in, a file replaces an
    // existing file or link (the link itself, never what it points to), a
    // folder is merged into an existing folder (not a link to one). Every
    // conflict (a folder where a non-folder is, or the reverse; a folder that
    // is another file system's mount point) is found before anything moves;
    // then nothing moves and this fails. Each entry of folder() appears at
    // once, as it was or complete: a merged folder is completed here with
    // hard links and exchanged with the old one in one rename; only where
    // the file system cannot do that (no hard links, no exchange) do its
    // entries move one by one. Several entries appear one after another.
    // A rename refused later (a full directory, a permission) leaves what
    // moved before it in place.
    bool moveIntoPlace();

    // The last failure: errno and a sentence naming the path.
    int error() const { return m_errno; }
    const QString &errorText() const { return m_errorText; }

private:
    bool fail(int error, const QString &text);

    const QString m_destination;
    QString m_folder;
    QByteArray m_name;  // m_folder's name in the destination
    int m_parentFd = -1;
    int m_lockFd = -1;  // m_folder, locked
    int m_errno = 0;
    QString m_errorText;
    bool m_haveProtected = false;
    bool m_hitProtected = false;
    dev_t m_protectedDevice = 0;
    ino_t m_protectedInode = 0;
};
