#pragma once

#include <QLoggingCategory>

// Calls through the imaging boundary.
// Every failed call is logged at debug level, off by default: an open that
// tries read and write before read fails on purpose. The failures the window
// reports are logged at warning level with their cause under its own
// categories; QT_LOGGING_RULES="pellwick.imaging.debug=true" adds each call's.
Q_DECLARE_LOGGING_CATEGORY(lcImaging)
