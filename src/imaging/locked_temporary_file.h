#pragma once

#include <QByteArray>

// A temporary file that a write of ours makes beside its target, named
// ".<target's name>.pellwick-<13 base-36 digits>". Its writer holds an
// exclusive flock on it until it is renamed or removed, so a file of that
// pattern that can be locked has lost its writer (killed, or the machine went
// down) and may go: removeAbandoned() removes those at the start of every
// write into a folder, so that they never pile up, and never touches a live
// writer's file.
class LockedTemporaryFile
{
public:
    // Creates a new empty file beside `target` (a native path), locked.
    // Abandoned files of that folder are removed first. False and errno on
    // failure.
    bool create(const QByteArray &target);

    // Unlocks and removes the file unless it was renamed away.
    ~LockedTemporaryFile();
    LockedTemporaryFile() = default;
    LockedTemporaryFile(const LockedTemporaryFile &) = delete;
    LockedTemporaryFile &operator=(const LockedTemporaryFile &) = delete;

    const QByteArray &path() const { return m_path; }
    int fd() const { return m_fd; }

    // The file now lives under another name: do not remove it, and close it
    // now (an open lock on an archive would refuse wimlib's own append lock).
    void renamed();

    // Removes the files of our pattern in `folder` whose writers are gone.
    static void removeAbandoned(const QByteArray &folder);

    // Flushes the entries of the folder that holds `path` (a rename into it)
    // to disk.
    static void syncFolder(const QByteArray &path);

    // True for a file name of our pattern.
    static bool isOurs(const char *name);

private:
    void close();

    QByteArray m_path;
    int m_fd = -1;
};
