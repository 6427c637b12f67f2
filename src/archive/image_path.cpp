#include "archive/image_path.h"

QString ImagePathFromTyped(const QString &typed)
{
    QStringList names;
    const QString text = typed.trimmed();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != QLatin1Char('/') && text[i] != QLatin1Char('\\'))
            continue;
        const QString name = text.mid(start, i - start);
        start = i + 1;
        if (name.isEmpty() || name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            if (!names.isEmpty())
                names.removeLast();
            continue;
        }
        names << name;
    }
    return QLatin1Char('/') + names.join(QLatin1Char('/'));
}

QString ParentImagePath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString JoinImagePath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QStringList ImagePathChain(const QString &path)
{
    QStringList chain{QStringLiteral("/")};
    for (qsizetype slash = path.indexOf(QLatin1Char('/'), 1); slash > 0;
         slash = path.indexOf(QLatin1Char('/'), slash + 1))
        chain << path.left(slash);
    if (path.size() > 1)
        chain << path;
    return chain;
}
