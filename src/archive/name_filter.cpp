#include "archive/name_filter.h"

NameFilter::NameFilter(const QString &typed) : m_text(typed.trimmed())
{
    m_wildcard = m_text.contains(QLatin1Char('*')) || m_text.contains(QLatin1Char('?'));
    if (m_wildcard) {
        // Brackets stay literal: Windows names often hold them.
        QString escaped;
        for (QChar c : m_text) {
            if (c == QLatin1Char('*'))
                escaped += QLatin1String(".*");
            else if (c == QLatin1Char('?'))
                escaped += QLatin1Char('.');
            else
                escaped += QRegularExpression::escape(QString(c));
        }
        m_pattern.setPattern(QRegularExpression::anchoredPattern(escaped));
        m_pattern.setPatternOptions(QRegularExpression::CaseInsensitiveOption
                                    | QRegularExpression::DotMatchesEverythingOption);
        m_pattern.optimize();
    }
}

bool NameFilter::matches(const QString &name) const
{
    if (m_text.isEmpty())
        return false;
    if (m_wildcard)
        return m_pattern.match(name).hasMatch();
    return name.contains(m_text, Qt::CaseInsensitive);
}

bool NameFilter::matches(QByteArrayView utf8Name) const
{
    return matches(QString::fromUtf8(utf8Name));
}
