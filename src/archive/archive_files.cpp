#include "archive/archive_files.h"

#include <QFileInfo>

bool IsArchiveFileName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    for (const char *known : {"wim", "esd", "swm"}) {
        if (suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString DroppedArchive(const QList<QUrl> &urls)
{
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    const QString path = urls.first().toLocalFile();
    if (!IsArchiveFileName(path) || QFileInfo(path).isDir())
        return {};
    return path;
}
