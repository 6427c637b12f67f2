#pragma once

#include <QList>
#include <QString>

// What pellwick-wim mount leaves beside a mount it serves, so that a later
// start of the program finds the mounts Pellwick made, also after the window
// that asked for them was killed. One small file per mount folder, written
// before the mount and removed by the serving process after its unmount.
struct MountRecord {
    QString directory;  // absolute
    QString archive;    // canonical
    uint32_t image = 0;
    bool readWrite = false;
    QString staging;  // the folder its staging files go into ("" read-only; see makeStagingFolder)
    friend bool operator==(const MountRecord &, const MountRecord &) = default;
};

// $PELLWICK_MOUNT_RECORDS, else a folder under /run (root) or the user's
// runtime folder: gone with a reboot, as the mounts are.
QString mountRecordFolder();

// Writes (replaces) the record of record.directory; false when it cannot.
bool writeMountRecord(const MountRecord &record);
void removeMountRecord(const QString &directory);

// How a recorded mount stands now.
enum class MountState {
    Served,  // mounted and answering
    Dead,    // still mounted, but its serving process is gone ("Transport endpoint is not connected")
    Gone,    // not mounted any more
};
MountState mountState(const QString &directory);

// Every record whose mount is still there, Served or Dead; records of mounts
// that are gone are removed, unless the process that wrote the record runs
// yet (its mount is on the way, or it failed and that process removes it).
QList<MountRecord> mountRecords();

// A private folder under `parent` (the working directory) for the staging
// files of one read-write mount, so that what a killed serving process leaves
// can be removed as a whole; "" with errno set when it cannot be made.
QString makeStagingFolder(const QString &parent);

// Removes a folder made by makeStagingFolder with whatever it holds; any
// other folder is left alone (older records named the working directory).
void removeStagingFolder(const QString &staging);

// A Dead mount ended: unmounted (detached), its staged changes, which nothing
// can commit any more, removed with its record. False when it stays mounted.
bool clearDeadMount(const QString &directory);
