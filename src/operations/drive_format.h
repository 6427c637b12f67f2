#pragma once

#include "support/command_runner.h"

#include <QString>
#include <functional>

// Formatting a drive with NTFS before an image is applied to it.

// Runs one shell command line and says how it ended (RunCommandWithStatus in
// the program).
using FormatCommandRunner = std::function<CommandResult(const QString &commandLine)>;

struct FormatOutcome {
    enum Stage {
        Formatted,     // formatted and mounted back at the same place
        NotFormatted,  // nothing usable was written; the drive is mounted as before where that could be done
        NotMounted,    // formatted, but it could not be mounted back
    };
    Stage stage = NotFormatted;
    QString detail;  // for the user: the step that failed and the end of its output
};

// Unmounts the drive mounted at `mountPoint`, formats its block device with
// NTFS and the volume label `label` and mounts it back at the same place with
// ntfs-3g, stopping at the first step that fails. When the format itself
// fails, the drive is mounted back as it was, as far as that can be done.
// `privileged` says whether the process may unmount and format at all.
// Blocks until every command has ended: call it from a worker.
FormatOutcome FormatDrive(const QString &mountPoint, const QString &label, bool privileged,
                          const FormatCommandRunner &run);

// At most the last few lines of a tool's output, for a message box; "" when
// there is nothing to show.
QString OutputTail(const QString &output);

// The runner the apply uses. Tests replace it so that no real drive is
// touched; an empty runner restores RunCommandWithStatus.
FormatCommandRunner formatCommandRunner();
void setFormatCommandRunner(FormatCommandRunner runner);
