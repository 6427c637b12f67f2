#pragma once

#include <QString>
#include <QStringList>

// The program's arguments: `pellwick [ARCHIVE]`. The desktop entry passes the
// file a user opens with the program ("Open with", a double-click).
struct CommandLine {
    QString archive;  // absolute path of the archive to open at start; "" for none
    bool help = false;
    QString error;    // what is wrong with the arguments; "" when nothing
};

// Parses `arguments` (the program first, as QCoreApplication::arguments()
// gives them, Qt's own options removed). The archive may be a path, relative
// to the current folder, or a file: URL. "--" ends the options, so a path may
// begin with "-".
CommandLine ParseCommandLine(const QStringList &arguments);

// The text `pellwick --help` prints, and the line after an error.
QString CommandLineUsage();
