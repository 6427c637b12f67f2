// Takes a drive as the program does, says "released" and waits to be killed:
//   drive_guard_child apply|capture MOUNTPOINT
//   drive_guard_child guard MOUNTPOINT COMMAND   (a guardian alone, for a drive taken by COMMAND's opposite;
//                                                it tries COMMAND twice)
//   drive_guard_child done MOUNTPOINT COMMAND    (a guardian dismissed at once, as after a normal end)
#include "operations/drive_guardian.h"
#include "operations/ntfs_drive.h"

#include <QCoreApplication>

#include <cstdio>

#include <unistd.h>

namespace {

bool released(const QString &)
{
    std::printf("released\n");
    std::fflush(stdout);
    ::sleep(60);
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return 2;
    const QString &mode = args[0];
    if (mode == QLatin1String("guard") || mode == QLatin1String("done")) {
        const DriveGuardian guardian(DriveGuardian::Taken::Unmounted, QStringLiteral("/dev/pellwick-test"), args[1],
                                     args.value(2), 2);  // a failing restore gives up in half a second
        if (!guardian.error().isEmpty())
            return 1;
        return mode == QLatin1String("done") ? 0 : int(released(QString()));
    }
    const auto run = [](const QString &line) { return RunCommandWithStatus(line); };
    const NtfsProbe probe = ProbeNtfsDrive(args[1], true, run);
    if (probe.result != NtfsProbe::Ntfs)
        return 3;
    const NtfsDriveOutcome outcome = mode == QLatin1String("apply")
                                         ? ApplyOntoNtfsDrive(probe.drive, true, {}, released, run)
                                         : CaptureFromNtfsDrive(probe.drive, true, {}, released, run);
    std::printf("%s\n", qPrintable(outcome.detail));
    return 4;
}
