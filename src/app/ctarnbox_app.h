#pragma once

#include <QApplication>

// The application: prepares the program, runs the main window modally and
// ends when it closes.
class CTarnboxApp : public QApplication
{
    Q_OBJECT

public:
    CTarnboxApp(int &argc, char **argv);

    // The start-up routine: runs the main window until it closes. Always
    // returns false: the program ends afterwards.
    bool InitInstance();

    // The settings key of the per-user settings (the organisation name).
    static QString settingsKey();
};
