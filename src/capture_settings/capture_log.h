#pragma once

#include <QLoggingCategory>

// The exclusion list store and the edition detection.
// Failures go to standard error with their cause, so that a user can quote
// them in a report (QT_LOGGING_RULES="pellwick.capture.warning=false" silences them).
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
