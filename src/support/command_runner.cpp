#include "support/command_runner.h"

// Placeholder until the runner lands.
QString RunCommand(const QString &) { return {}; }
QString RunCommandNoOutput(const QString &) { return {}; }
CommandResult RunCommandWithStatus(const QString &) { return {}; }
