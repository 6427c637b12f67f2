#include "archive/metadata_xml.h"

// The metadata text is treated as a plain string: elements are found by
// substring search and a value runs up to the next "<". Everything outside the
// values we touch goes back to the library exactly as it came.

namespace {

// The element names, by MetadataTag index.
constexpr const char16_t *kTags[] = {u"NAME", u"DESCRIPTION", u"DISPLAYNAME", u"DISPLAYDESCRIPTION", u"FLAGS"};

QStringView name(MetadataTag tag)
{
    const int i = int(tag);
    Q_ASSERT(i >= 0 && i < int(std::size(kTags)));
    return QStringView(kTags[i]);
}

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

// The first occurrence of an element: "<NAME>" followed by its value, or the
// empty "<NAME/>" that other tools write, whichever comes first; attributes
// in the tag are kept. The value runs up to the next "<".
struct ValueSpan {
    qsizetype begin = -1;  // the value's first character; -1 when the element does not occur
    qsizetype end = -1;    // the "<" after the value; -1 when unclosed
    qsizetype slash = -1;  // an empty element: where its "/>" starts
};

ValueSpan findValue(const QString &text, QStringView elementName)
{
    ValueSpan span;
    const QStringView all(text);
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(QLatin1Char('<'), from);
        if (at < 0)
            return span;
        from = at + 1;
        const qsizetype p = from + elementName.size();
        if (!all.mid(from).startsWith(elementName) || p >= text.size())
            continue;
        const QChar next = text.at(p);
        if (next != QLatin1Char('>') && next != QLatin1Char('/') && !isXmlSpace(next))
            continue;  // "<NAMES>": another element
        const qsizetype close = text.indexOf(QLatin1Char('>'), p);
        if (close < 0 || (next == QLatin1Char('/') && close != p + 1))
            continue;  // not a tag
        if (text.at(close - 1) == QLatin1Char('/')) {
            span.slash = close - 1;
            span.begin = span.end = close + 1;
        } else {
            span.begin = close + 1;
            span.end = text.indexOf(QLatin1Char('<'), span.begin);
        }
        return span;
    }
}

// Each character adds its low four bits as a decimal digit; the value wraps.
quint64 parseNumber(QStringView digits)
{
    quint64 value = 0;
    for (const QChar c : digits)
        value = value * 10u + (c.unicode() & 0xFu);
    return value;
}

// Reads a number element into *value (0 when it is missing); false when unclosed.
bool readNumber(const QString &text, QStringView elementName, quint64 *value)
{
    *value = 0;
    const ValueSpan span = findValue(text, elementName);
    if (span.begin < 0)
        return true;
    if (span.end < 0)
        return false;
    *value = parseNumber(QStringView(text).mid(span.begin, span.end - span.begin));
    return true;
}

// The character a reference between "&" and ";" stands for; false when it is
// none we know, in which case the text stays as written.
bool decodeReference(QStringView name, QString *out)
{
    static constexpr struct {
        const char16_t *name;
        char16_t character;
    } kEntities[] = {{u"amp", u'&'}, {u"lt", u'<'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}};
    for (const auto &entity : kEntities) {
        if (name == QStringView(entity.name)) {
            out->append(QChar(entity.character));
            return true;
        }
    }
    if (name.size() < 2 || name.front() != QLatin1Char('#'))
        return false;
    const bool hex = name.at(1) == QLatin1Char('x');
    const QStringView digits = name.mid(hex ? 2 : 1);
    if (digits.isEmpty() || digits.size() > 8)
        return false;
    char32_t code = 0;
    for (const QChar c : digits) {
        int digit = -1;
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (hex && u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (hex && u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        if (digit < 0)
            return false;
        code = code * (hex ? 16 : 10) + char32_t(digit);
    }
    // Only characters XML allows; anything else is shown as it was written.
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
                         || (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed)
        return false;
    const char32_t one[] = {code};
    out->append(QString::fromUcs4(one, 1));
    return true;
}

QString decodeValue(QStringView raw)
{
    if (!raw.contains(QLatin1Char('&')))
        return raw.toString();
    QString out;
    out.reserve(raw.size());
    qsizetype i = 0;
    while (i < raw.size()) {
        const QChar c = raw.at(i);
        if (c == QLatin1Char('&')) {
            const qsizetype semicolon = raw.indexOf(QLatin1Char(';'), i + 1);
            if (semicolon > i + 1 && decodeReference(raw.mid(i + 1, semicolon - i - 1), &out)) {
                i = semicolon + 1;
                continue;
            }
        }
        out.append(c);
        ++i;
    }
    return out;
}

QString escapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'&': out += QLatin1String("&amp;"); break;
        case u'<': out += QLatin1String("&lt;"); break;
        case u'>': out += QLatin1String("&gt;"); break;
        // A parser turns a bare CR into LF; the reference keeps it.
        case u'\r': out += QLatin1String("&#13;"); break;
        default: out.append(c);
        }
    }
    return out;
}

// Reads a text element into *field (empty when it is missing); false when unclosed.
bool readText(const QString &text, QStringView elementName, QString *field)
{
    field->clear();
    const ValueSpan span = findValue(text, elementName);
    if (span.begin < 0)
        return true;
    if (span.end < 0)
        return false;
    *field = decodeValue(QStringView(text).mid(span.begin, span.end - span.begin));
    return true;
}

}  // namespace

QString openingTag(MetadataTag tag)
{
    return QLatin1Char('<') + name(tag).toString() + QLatin1Char('>');
}

QString closingTag(MetadataTag tag)
{
    return QStringLiteral("</") + name(tag).toString() + QLatin1Char('>');
}

bool ReadImageInfo(const QString &text, ImageTable &table)
{
    ImageInfo &record = table.append();

    quint64 totalBytes = 0;
    quint64 hardLinkBytes = 0;
    if (!readNumber(text, u"TOTALBYTES", &totalBytes) || !readNumber(text, u"HARDLINKBYTES", &hardLinkBytes))
        return false;
    record.expandedBytes = totalBytes - hardLinkBytes;

    return readText(text, name(MetadataTag::Name), &record.name)
           && readText(text, name(MetadataTag::Description), &record.description)
           && readText(text, name(MetadataTag::Flags), &record.flags)
           && readText(text, name(MetadataTag::DisplayName), &record.displayName)
           && readText(text, name(MetadataTag::DisplayDescription), &record.displayDescription);
}

bool SetMetadataTag(QString &text, const QString &value, MetadataTag tag)
{
    const ValueSpan span = findValue(text, name(tag));
    if (span.slash >= 0) {
        // "<FLAGS/>" is the element: a second one beside it would be ignored.
        text.replace(span.slash, 2, QLatin1Char('>') + escapeValue(value) + closingTag(tag));
        return true;
    }
    if (span.begin >= 0) {
        // An unclosed old value leaves the text as it was: the caller gives up
        // on it, and a half-edited text must never reach the archive.
        if (span.end < 0)
            return false;
        text.replace(span.begin, span.end - span.begin, escapeValue(value));
        return true;
    }
    qsizetype at = text.indexOf(u"</IMAGE>");
    if (at < 0)
        at = 0;
    text.insert(at, openingTag(tag) + escapeValue(value) + closingTag(tag));
    return true;
}
