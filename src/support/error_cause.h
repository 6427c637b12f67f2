#pragma once

#include "support/imaging_error.h"

#include <QList>
#include <QString>

// Causes of failures in the user's language. A message box keeps its own
// sentence and shows the cause beneath it (the informative text); the
// operation log puts the system's description after an error number.

// The cause of a failed imaging call: Chinese for the common causes, else
// the system's description of its error number when that is one we word
// ourselves, else the library's own text. Empty when nothing is known.
QString errorCause(const ImagingError &error);

// The system's description of an error number (errno): Chinese for the
// common ones, else the C library's text. Empty for 0 and negative numbers,
// which name no system error.
QString systemErrorText(int errorNumber);

// A line of the operation log ("错误: /a/b [err = 13]") with the system's
// description of its number after a space ("错误: /a/b [err = 13] 没有访问权限").
// The line stays a prefix of the result; a number with no description adds nothing.
QString withSystemErrorText(const QString &logLine, int errorNumber);

// Of the failures of one thing tried several ways in turn (an open at each
// access level, the highest first), the one that tells the user most: the
// first that is more than a refusal of the access asked for (permission
// denied, a read-only file system), else the first. None when empty.
ImagingError mostTellingFailure(const QList<ImagingError> &attempts);
