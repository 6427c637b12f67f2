#pragma once

#include <QApplication>

// The application: prepares the program, runs the main window modally and
// ends when it closes.
class CTarnboxApp : public QApplication
{
    Q_OBJECT

public:
    CTarnboxApp(int &argc, char **argv);

    // The start-up routine: runs the main window until it closes, opening
    // the archive the command line names. Always returns false: the program
    // ends afterwards.
    bool InitInstance();
    // The program's exit status: 2 after arguments it cannot take, else 0.
    int ExitCode() const { return m_exitCode; }

    // The settings key of the per-user settings (the organisation name).
    static QString settingsKey();

private:
    int m_exitCode = 0;
};
