#pragma once

#include <QLoggingCategory>

// Calls through the imaging boundary.
// Failures go to standard error with their cause, so that a user can quote
// them in a report (QT_LOGGING_RULES="pellwick.imaging.warning=false" silences them).
Q_DECLARE_LOGGING_CATEGORY(lcImaging)
