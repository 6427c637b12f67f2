#include "imaging/wimlib_xml.h"

#include <QXmlStreamReader>

#include <vector>

namespace wimxml {

namespace {

QString emptyElement(int index)
{
    return QStringLiteral("<IMAGE INDEX=\"%1\"></IMAGE>").arg(index);
}

QStringView withoutBomAndNuls(QStringView text)
{
    while (!text.isEmpty() && text.front() == QChar(0xFEFF))
        text = text.mid(1);
    while (!text.isEmpty() && text.back() == QChar(0))
        text.chop(1);
    return text;
}

}  // namespace

QStringList imageElements(const QString &document, int imageCount)
{
    std::vector<QString> found(size_t(qMax(imageCount, 0)));
    const QString text = withoutBomAndNuls(document).toString();

    QXmlStreamReader reader(text);
    int depth = 0;
    int ordinal = 0;
    qint64 tokenStart = 0;
    qint64 imageStart = -1;
    int imageSlot = -1;
    while (!reader.atEnd()) {
        tokenStart = reader.characterOffset();
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 2 && reader.name() == QLatin1String("IMAGE")) {
                ++ordinal;
                bool ok = false;
                const int index = reader.attributes().value(QLatin1String("INDEX")).toInt(&ok);
                imageSlot = (ok ? index : ordinal) - 1;
                // The reader's offsets may run a character past a token's
                // start after white space: find the tag's own "<".
                imageStart = text.lastIndexOf(u'<', tokenStart);
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 2 && imageStart >= 0) {
                const qsizetype startTagEnd = text.indexOf(u'>', imageStart);
                qsizetype end = startTagEnd + 1;
                if (startTagEnd > 0 && text.at(startTagEnd - 1) != u'/') {
                    const qsizetype endTag = text.lastIndexOf(QLatin1String("</"), reader.characterOffset() - 1);
                    end = endTag > startTagEnd ? text.indexOf(u'>', endTag) + 1 : 0;
                }
                if (end > imageStart && imageSlot >= 0 && size_t(imageSlot) < found.size()
                    && found[size_t(imageSlot)].isEmpty())
                    found[size_t(imageSlot)] = text.mid(imageStart, end - imageStart);
                imageStart = -1;
            }
            --depth;
        }
    }
    const bool parsed = !reader.hasError();

    QStringList out;
    out.reserve(imageCount);
    for (int i = 0; i < imageCount; ++i) {
        const QString &element = found[size_t(i)];
        out.append(parsed && !element.isEmpty() ? element : emptyElement(i + 1));
    }
    return out;
}

std::optional<EditableTexts> editableTexts(const QString &element)
{
    QXmlStreamReader reader(withoutBomAndNuls(element).toString());
    EditableTexts texts;
    bool seen[5] = {};
    bool haveRoot = false;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (!haveRoot) {
            if (reader.name() != QLatin1String("IMAGE"))
                return std::nullopt;
            haveRoot = true;
            continue;
        }
        QString *const targets[5] = {&texts.name, &texts.description, &texts.flags, &texts.displayName,
                                     &texts.displayDescription};
        static const QLatin1String names[5] = {QLatin1String("NAME"), QLatin1String("DESCRIPTION"),
                                               QLatin1String("FLAGS"), QLatin1String("DISPLAYNAME"),
                                               QLatin1String("DISPLAYDESCRIPTION")};
        int slot = -1;
        for (int i = 0; i < 5 && slot < 0; ++i) {
            if (reader.name() == names[i])
                slot = i;
        }
        if (slot < 0) {
            reader.skipCurrentElement();
            continue;
        }
        const QString value = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (reader.hasError())
            return std::nullopt;
        // The first occurrence counts, as it does for the program's own reader.
        if (!seen[slot]) {
            seen[slot] = true;
            *targets[slot] = value;
        }
    }
    if (reader.hasError() || !haveRoot)
        return std::nullopt;
    return texts;
}

}  // namespace wimxml
