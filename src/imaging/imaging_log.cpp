#include "imaging/imaging_log.h"

Q_LOGGING_CATEGORY(lcImaging, "pellwick.imaging")
