#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The program's arguments: `pellwick [ARCHIVE]`. The desktop entry passes the
// file a user opens with the program ("Open with", a double-click).
struct CommandLine {
    QString archive;  // absolute path of the archive to open at start; "" for none
    bool help = false;
    bool version = false;
    QString error;  // what is wrong with the arguments; "" when nothing
};

// Parses `arguments` (the program first, as QCoreApplication::arguments()
// gives them, Qt's own options removed). The archive may be a path, relative
// to the current folder, or a file: URL. "--" ends the options, so a path may
// begin with "-".
CommandLine ParseCommandLine(const QStringList &arguments);

// The text `pellwick --help` prints, and the line after an error.
QString CommandLineUsage();

// `arguments` (argv as the program got it) without the options Qt's
// application object takes for itself (-platform NAME, -style NAME, ...), so
// that they can be parsed before that object exists.
QStringList WithoutQtOptions(const QStringList &arguments);

// What needs no window: prints the help or the version (exit status 0), or
// the error and the usage (2). nullopt when the window is to start.
std::optional<int> AnswerWithoutWindow(const CommandLine &line);
