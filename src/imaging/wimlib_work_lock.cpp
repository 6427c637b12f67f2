#include "imaging/wimlib_work_lock.h"

#include "imaging/wimlib_last_error.h"

bool readyForCall(WimlibArchive &archive, const WorkLock &lock, const char *call)
{
    const QString name = QLatin1String(call);
    if (!lock.owns())
        return wimlibFail({ImagingError::Kind::Busy, 0,
                           QStringLiteral("%1: the archive is busy with another call").arg(name)});
    ImagingError error;
    if (!archive.refresh(&error)) {
        error.text = QStringLiteral("%1: %2").arg(name, error.text);
        return wimlibFail(error);
    }
    return true;
}
