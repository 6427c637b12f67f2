#include "support/failure_report.h"

#include "support/error_cause.h"
#include "support/ui_thread.h"

namespace {

void logFailure(LogCategory category, const QString &line)
{
    qCWarning(category).noquote() << line;
}

}  // namespace

QString failureLogLine(const QString &text, const QString &cause, const QString &libraryText)
{
    QString line = text;
    if (!cause.isEmpty())
        line += QLatin1Char(' ') + cause;
    // The library's words name the call and the path; not twice when they are the cause.
    if (!libraryText.isEmpty() && libraryText != cause)
        line += QStringLiteral(" [") + libraryText + QLatin1Char(']');
    return line;
}

int reportFailure(LogCategory category, QObject *owner, const QString &text, const QString &caption,
                  const ImagingError &error, const QString &more)
{
    const QString cause = more.isEmpty() ? errorCause(error) : errorCause(error) + QLatin1Char('\n') + more;
    logFailure(category, failureLogLine(text, cause, error.text));
    return uiThread::messageBox(owner, text, caption, MB_OK, cause);
}

int reportFileFailure(LogCategory category, QObject *owner, const QString &text, const QString &caption,
                      const QString &path, const QString &cause, const QString &libraryText)
{
    logFailure(category, failureLogLine(text, cause, libraryText));
    return uiThread::messageBox(owner, text, caption, MB_OK, fileFailureDetail(path, cause));
}

QString fileFailureDetail(const QString &path, const QString &cause)
{
    return cause.isEmpty() ? path : path + QLatin1Char('\n') + cause;
}

int reportFailure(LogCategory category, QObject *owner, const QString &text, const QString &caption,
                  const QString &cause, uint32_t type)
{
    logFailure(category, failureLogLine(text, cause));
    return uiThread::messageBox(owner, text, caption, type, cause);
}
