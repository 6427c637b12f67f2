#include "support/file_filter.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// The patterns QFileDialog reads out of a name filter: what the last
// parentheses hold (the characters it accepts there), split at spaces.
QStringList patternsOfLabel(const QString &label)
{
    static const QRegularExpression trailing(
        QStringLiteral("^(.*)\\(([a-zA-Z0-9_.,*? +;#\\-\\[\\]@\\{\\}/!<>\\$%&=^~:\\|]*)\\)$"));
    const QRegularExpressionMatch match = trailing.match(label);
    if (!match.hasMatch())
        return {};
    return match.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

}  // namespace

QString qtNameFilters(const QString &barFilter)
{
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &label = parts[i];
        if (label.isEmpty())
            break;
        const QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (patternsOfLabel(label) == patterns)
            filters << label;
        else
            filters << label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

QString suffixOfNameFilter(const QString &nameFilter)
{
    const QStringList patterns = patternsOfLabel(nameFilter);
    if (patterns.size() != 1)
        return {};
    static const QRegularExpression simple(QStringLiteral("^\\*\\.([^*?.\\[\\]]+)$"));
    const QRegularExpressionMatch match = simple.match(patterns.first());
    return match.hasMatch() ? match.captured(1) : QString();
}
