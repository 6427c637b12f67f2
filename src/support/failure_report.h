#pragma once

#include "support/imaging_error.h"
#include "support/prompts.h"

#include <QLoggingCategory>
#include <QString>

// A failure the user is told of: a message box with the failure's own
// sentence and its cause beneath, and the same logged once at warning level
// under the category of the part that failed, so that a user can quote it in
// a report. Callable from any thread.

// A category as Q_LOGGING_CATEGORY declares it (lcArchive, lcOperations, ...).
using LogCategory = const QLoggingCategory &(*)();

// The cause is errorCause(error); the log adds the library's own words. Read
// `error` on the thread that made the failing call, right after it. `more`,
// when given, goes beneath the cause.
int reportFailure(LogCategory category, QObject *owner, const QString &text, const QString &caption,
                  const ImagingError &error, const QString &more = {});
// A cause worded already (the system's, or a step of the program's own).
int reportFailure(LogCategory category, QObject *owner, const QString &text, const QString &caption,
                  const QString &cause, uint32_t type = MB_OK);

// A failure of one file: its path beneath the text, the cause beneath the
// path; the log line is the one above (the library's words name the path).
int reportFileFailure(LogCategory category, QObject *owner, const QString &text, const QString &caption,
                      const QString &path, const QString &cause, const QString &libraryText = {});

// What reportFileFailure shows beneath its text.
QString fileFailureDetail(const QString &path, const QString &cause);

// The logged line: "文件无法打开！ 这不是 WIM 映像文件 [WIMCreateFile: ...]";
// each part only when there is one.
QString failureLogLine(const QString &text, const QString &cause, const QString &libraryText = {});
