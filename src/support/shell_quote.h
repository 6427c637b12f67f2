#pragma once

#include <QString>

// Quotes one argument for /bin/sh: the shell passes it to the command as one
// unchanged word, whatever it holds (spaces, quotes, "$", ";", newlines).
QString shellQuote(const QString &argument);
