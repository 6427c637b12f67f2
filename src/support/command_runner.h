#pragma once

#include <QString>

// Runs a console command line hidden through /bin/sh -c, with standard output
// and standard error merged into one stream, and blocks until that stream
// ends. Never shows anything; any failure to start gives an empty result.
// Callable from any thread (only workers call it: it blocks).
QString RunCommand(const QString &commandLine);

// The same, dropping the output; returns an empty string.
QString RunCommandNoOutput(const QString &commandLine);

// The same as RunCommand, and also whether the command started and its exit status.
struct CommandResult {
    bool started = false;
    int exitCode = -1;       // -1 when it did not exit normally
    QString output;
};
CommandResult RunCommandWithStatus(const QString &commandLine);
