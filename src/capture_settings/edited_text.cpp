#include "capture_settings/edited_text.h"

namespace {

bool onlyCrLfLineEnds(const QString &text)
{
    const qsizetype pairs = text.count(QStringLiteral("\r\n"));
    return pairs > 0 && text.count(QLatin1Char('\r')) == pairs && text.count(QLatin1Char('\n')) == pairs;
}

}  // namespace

QString textFromEditor(const QString &rawText, const QString &before)
{
    QString text = rawText;
    text.replace(QChar(QChar::ParagraphSeparator),
                 onlyCrLfLineEnds(before) ? QStringLiteral("\r\n") : QStringLiteral("\n"));
    return text;
}
