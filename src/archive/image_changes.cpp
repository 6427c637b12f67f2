#include "archive/image_changes.h"

#include "archive/image_path.h"

#include <QDir>
#include <QFileInfo>

QString EntryNameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("名称不能为空！");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("名称不能是“.”或“..”！");
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0)))
        return QStringLiteral("名称中不能含有“/”！");
    return {};
}

const WimDirEntry *EntryNamed(const QList<WimDirEntry> &existing, const QString &name)
{
    for (const WimDirEntry &entry : existing) {
        if (entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

QList<ImagingUpdate> AddUpdates(const QStringList &sources, const QString &folder, const QList<WimDirEntry> &existing,
                                const std::function<bool(const WimDirEntry &taken)> &replace)
{
    QList<ImagingUpdate> updates;
    QStringList added;  // of two sources of one name, the first goes in
    for (const QString &source : sources) {
        const QString name = QFileInfo(QDir::cleanPath(source)).fileName();
        if (name.isEmpty() || added.contains(name, Qt::CaseInsensitive))
            continue;
        if (const WimDirEntry *taken = EntryNamed(existing, name)) {
            if (!replace(*taken))
                continue;
            updates.append({ImagingUpdate::Kind::Delete, {}, JoinImagePath(folder, taken->name), {}});
        }
        added.append(name);
        updates.append({ImagingUpdate::Kind::Add, QDir::cleanPath(source), JoinImagePath(folder, name), {}});
    }
    return updates;
}

QString NewFolderName(const QList<WimDirEntry> &existing)
{
    const QString base = QStringLiteral("新建文件夹");
    QString name = base;
    for (int n = 2; EntryNamed(existing, name); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    return name;
}
