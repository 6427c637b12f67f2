#include "capture_settings/capture_log.h"

Q_LOGGING_CATEGORY(lcCapture, "pellwick.capture")
