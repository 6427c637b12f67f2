#include "app/ctarnbox_app.h"

#include "app/ctarnbox_dlg.h"
#include "app/termination_signals.h"
#include "operations/background_task.h"
#include "support/prompts.h"
#include "support/qt_translation.h"
#include "support/ui_thread.h"
#include "support/widget_prompts.h"

#include <QTranslator>

CTarnboxApp::CTarnboxApp(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // No name of its own: the application's name stays the executable's, and
    // it is the caption of every message without one.
}

QString CTarnboxApp::settingsKey()
{
    return QStringLiteral("应用程序向导生成的本地应用程序");
}

bool CTarnboxApp::InitInstance()
{
    setOrganizationName(settingsKey());

    // Qt's own dialogs speak Chinese with the rest of the window, whatever
    // the locale; without the translation they stay in English (logged).
    QTranslator qtTranslator;
    installQtTranslation(qtTranslator);

    WidgetPrompts widgetPrompts;
    setPrompts(&widgetPrompts);

    {
        CTarnboxDlg dlg;
        installTerminationHandler([] {
            if (CTarnboxDlg *main = g_pMainDlg.load())
                main->CloseApp();
        });
        dlg.exec();
        uiThread::setWindowOpen(false);
        // A worker may still be finishing (its completion message is answered
        // with the default now); wait for it, bounded, before the window goes.
        backgroundTasks::waitForAll(10000);
    }
    setPrompts(nullptr);
    return false;
}
