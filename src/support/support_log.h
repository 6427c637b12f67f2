#pragma once

#include <QLoggingCategory>

// The command runner, the prompts and the start-up helpers.
// Failures go to standard error with their cause, so that a user can quote
// them in a report (QT_LOGGING_RULES="pellwick.support.warning=false" silences them).
Q_DECLARE_LOGGING_CATEGORY(lcSupport)
