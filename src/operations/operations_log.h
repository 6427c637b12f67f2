#pragma once

#include <QLoggingCategory>

// The background operations and the quick edits.
// Failures go to standard error with their cause, so that a user can quote
// them in a report (QT_LOGGING_RULES="pellwick.operations.warning=false" silences them).
Q_DECLARE_LOGGING_CATEGORY(lcOperations)
