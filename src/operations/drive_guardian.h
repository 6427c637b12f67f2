#pragma once

#include <QString>

#include <sys/types.h>

// Gives a drive back when the program ends while the drive is taken from the
// user (unmounted, or made read-only), however it ends: a kill included. A
// small process started beside the program waits on a pipe that only the
// program holds; when the pipe closes without the program having given the
// drive back itself, it runs the command that does (for a few seconds, while
// the device is still being released) and leaves its result beside a record
// of the drive, which the next start reports (DriveRestoreReport).
class DriveGuardian
{
public:
    enum class Taken { Unmounted, ReadOnly };

    // Writes the record and starts the guardian, before the drive is taken.
    // `restoreCommand` is the shell command that gives the drive back; the
    // guardian tries it `tries` times, half a second apart.
    DriveGuardian(Taken taken, const QString &device, const QString &mountPoint, const QString &restoreCommand,
                  int tries = 10);
    // The program gave the drive back itself, or tried to: the guardian ends
    // without doing anything and the record goes.
    ~DriveGuardian();
    DriveGuardian(const DriveGuardian &) = delete;
    DriveGuardian &operator=(const DriveGuardian &) = delete;

    // "" when the guardian runs; else why not, for the user.
    const QString &error() const { return m_error; }

private:
    QString m_record;
    QString m_error;
    int m_pipe = -1;  // its write end; closing it without "done" starts the restore
    pid_t m_pid = -1;
};

// Where the records go: $PELLWICK_DRIVE_RECORDS, else a folder under /run
// (root) or the user's runtime folder, gone with a reboot as the mounts are.
QString driveRecordFolder();

// What the guardians of earlier runs did, for the user ("" when nothing):
// which drives were given back, and for those that could not be, why and the
// command that does it. The records it reports are removed; those of a
// guardian still at work are left.
QString DriveRestoreReport();
