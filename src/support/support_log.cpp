#include "support/support_log.h"

Q_LOGGING_CATEGORY(lcSupport, "pellwick.support")
