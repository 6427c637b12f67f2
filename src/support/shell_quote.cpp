#include "support/shell_quote.h"

QString shellQuote(const QString &argument)
{
    // Inside single quotes nothing is special except the quote itself, which
    // is closed, written escaped, and reopened.
    QString quoted;
    quoted.reserve(argument.size() + 2);
    quoted += QLatin1Char('\'');
    for (const QChar c : argument) {
        if (c == QLatin1Char('\''))
            quoted += QStringLiteral("'\\''");
        else
            quoted += c;
    }
    quoted += QLatin1Char('\'');
    return quoted;
}
