#include "operations/operations_log.h"

Q_LOGGING_CATEGORY(lcOperations, "pellwick.operations")
