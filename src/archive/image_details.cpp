#include "archive/image_details.h"

#include "archive/image_size.h"

#include <QStringList>
#include <QXmlStreamReader>

namespace {

// FILETIME: 100 ns ticks since 1601-01-01 UTC.
QDateTime fromFileTime(quint64 ticks)
{
    constexpr qint64 kTicksTo1970 = 116444736000000000LL;
    if (ticks == 0 || ticks < quint64(kTicksTo1970))
        return {};
    return QDateTime::fromMSecsSinceEpoch(qint64((ticks - quint64(kTicksTo1970)) / 10000), Qt::UTC);
}

quint64 number(const QString &text, bool *ok)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return t.mid(2).toULongLong(ok, 16);
    return t.toULongLong(ok, 10);
}

}  // namespace

ImageDetails ReadImageDetails(const QString &xml)
{
    ImageDetails details;
    QXmlStreamReader reader(xml);
    QStringList open;  // the elements the reader is inside, outermost first
    quint64 high = 0;
    quint64 low = 0;
    bool haveHigh = false;
    bool haveLow = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            open << reader.name().toString();
            if (open.size() == 3
                && (open[1] == QLatin1String("CREATIONTIME") || open[1] == QLatin1String("LASTMODIFICATIONTIME"))) {
                bool ok = false;
                const quint64 value = number(reader.readElementText(), &ok);
                if (open[2] == QLatin1String("HIGHPART"))
                    high = value, haveHigh = ok;
                else if (open[2] == QLatin1String("LOWPART"))
                    low = value, haveLow = ok;
                open.removeLast();
            } else if (open.size() == 2) {
                const QString name = open[1];
                qint64 *field = name == QLatin1String("FILECOUNT")    ? &details.files
                                : name == QLatin1String("DIRCOUNT")   ? &details.folders
                                : name == QLatin1String("TOTALBYTES") ? &details.bytes
                                                                      : nullptr;
                if (field) {
                    bool ok = false;
                    const quint64 value = number(reader.readElementText(), &ok);
                    if (ok)
                        *field = qint64(value);
                    open.removeLast();
                }
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (open.size() == 2 && haveHigh && haveLow) {
                const QDateTime time = fromFileTime((high << 32) | (low & 0xFFFFFFFFu));
                if (open[1] == QLatin1String("CREATIONTIME"))
                    details.created = time;
                else if (open[1] == QLatin1String("LASTMODIFICATIONTIME"))
                    details.modified = time;
            }
            if (open.size() == 2)
                haveHigh = haveLow = false;
            if (!open.isEmpty())
                open.removeLast();
        }
    }
    return details;
}

QString ImageDetailsText(const ImageDetails &details, const QTimeZone &zone)
{
    QStringList parts;
    QStringList counts;
    if (details.folders >= 0)
        counts << QStringLiteral("%1 个文件夹").arg(details.folders);
    if (details.files >= 0)
        counts << QStringLiteral("%1 个文件").arg(details.files);
    if (!counts.isEmpty())
        parts << QStringLiteral("共 ") + counts.join(QStringLiteral("、"));
    if (details.bytes >= 0)
        parts << QStringLiteral("总大小 ") + FormatImageSize(quint64(details.bytes));
    const QString format = QStringLiteral("yyyy/MM/dd HH:mm");
    if (details.created.isValid())
        parts << QStringLiteral("创建于 ") + details.created.toTimeZone(zone).toString(format);
    if (details.modified.isValid())
        parts << QStringLiteral("修改于 ") + details.modified.toTimeZone(zone).toString(format);
    return parts.join(QStringLiteral("，"));
}
