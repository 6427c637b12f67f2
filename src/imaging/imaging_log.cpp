#include "imaging/imaging_log.h"

// Debug messages (each failed call, probing included) are off unless asked for.
Q_LOGGING_CATEGORY(lcImaging, "pellwick.imaging", QtInfoMsg)
