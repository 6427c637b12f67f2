#include "imaging/split_parts.h"

#include <QFileInfo>

namespace splitparts {

QString partPath(const QString &firstPart, unsigned number)
{
    if (number <= 1)
        return firstPart;
    const qsizetype slash = firstPart.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = firstPart.lastIndexOf(QLatin1Char('.'));
    // From the file name's last dot, also when it is its first character
    // (".swm" gives "2.swm"); a folder's dot does not count.
    const qsizetype at = dot > slash ? dot : firstPart.size();
    return firstPart.left(at) + QString::number(number) + firstPart.mid(at);
}

QString firstMissingPart(const QString &firstPart)
{
    for (unsigned number = 2; number <= 10000; ++number) {
        const QString part = partPath(firstPart, number);
        if (!QFileInfo::exists(part))
            return part;
    }
    return {};
}

}  // namespace splitparts
