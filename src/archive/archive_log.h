#pragma once

#include <QLoggingCategory>

// Opening, creating and listing archives.
// Failures go to standard error with their cause, so that a user can quote
// them in a report (QT_LOGGING_RULES="pellwick.archive.warning=false" silences them).
Q_DECLARE_LOGGING_CATEGORY(lcArchive)
