#pragma once

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

// What the browse dialog's find box finds: names holding the text typed,
// or, when it has a "*" or "?", names matching it whole ("*" any run of
// characters, "?" one); letter case ignored either way. An empty text
// finds nothing.
class NameFilter
{
public:
    explicit NameFilter(const QString &typed);

    bool isEmpty() const { return m_text.isEmpty(); }
    bool matches(const QString &name) const;
    // The same for a name in UTF-8 (the library's own texts).
    bool matches(QByteArrayView utf8Name) const;

private:
    QString m_text;
    bool m_wildcard = false;
    QRegularExpression m_pattern;
};
