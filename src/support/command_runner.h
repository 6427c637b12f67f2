#pragma once

#include <QString>

// Runs a console command line hidden through /bin/sh -c, with standard input
// from /dev/null and standard output and standard error merged into one
// stream, and blocks until that stream ends: until the command and everything
// it started in the background have closed it. There is no time limit. The
// child is reaped before the call returns. The bytes are decoded from the
// calling thread's locale encoding. Never shows anything; any failure to
// start (no pipe, no shell, a program the shell cannot find or execute, a
// line holding a zero character) gives an empty result.
// Callable from any thread (only workers call it: it blocks).
QString RunCommand(const QString &commandLine);

// The same, dropping the output; returns an empty string.
QString RunCommandNoOutput(const QString &commandLine);

// The same as RunCommand, and also whether the command started and its exit status.
struct CommandResult {
    bool started = false;  // false also when the shell reported 126 or 127
    int exitCode = -1;     // -1 when it did not exit normally
    QString output;        // empty unless started
};
CommandResult RunCommandWithStatus(const QString &commandLine);
