#pragma once

#include <QString>

// The text of a multi-line box that the user changed, from its document's raw
// text (paragraphs separated by U+2029). Unlike QPlainTextEdit::toPlainText(),
// no-break spaces and line separators (U+2028) stay as typed, and the line
// ends are CR LF when every line end of `before` (the text the box was given)
// was CR LF, LF otherwise.
QString textFromEditor(const QString &rawText, const QString &before);
