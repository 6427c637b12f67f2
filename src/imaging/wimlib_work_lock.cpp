#include "imaging/wimlib_work_lock.h"

#include "imaging/wimlib_last_error.h"

bool readyForCall(WimlibArchive &archive, WorkLock &lock, const char *call, ArchiveUse use)
{
    const QString name = QLatin1String(call);
    if (!lock.owns())
        return wimlibFail(
            {ImagingError::Kind::Busy, 0, QStringLiteral("%1: the archive is busy with another call").arg(name)});
    ImagingError error;
    if (archive.existsOnDisk()) {
        const auto mode = use == ArchiveUse::Change ? ArchiveFileLock::Mode::Exclusive : ArchiveFileLock::Mode::Shared;
        if (!lock.fileLockOf(archive).take(archive.native(), mode, archive.mayWrite(), &error)) {
            error.text = QStringLiteral("%1: %2").arg(name, error.text);
            return wimlibFail(error);
        }
    }
    if (!archive.refresh(&error)) {
        error.text = QStringLiteral("%1: %2").arg(name, error.text);
        return wimlibFail(error);
    }
    return true;
}
