#include "app/ctarnbox_app.h"

#include "app/command_line.h"
#include "app/ctarnbox_dlg.h"
#include "app/scripted_prompts.h"
#include "app/termination_signals.h"
#include "operations/drive_guardian.h"
#include "resources/resource_ids.h"
#include "support/background_task.h"
#include "support/prompts.h"
#include "support/qt_translation.h"
#include "support/ui_thread.h"
#include "support/widget_prompts.h"

#include <QSettings>
#include <QTimer>
#include <QTranslator>

namespace {

// What the guardians of an earlier run did with the drives it had taken.
void reportRestoredDrives()
{
    const QString report = DriveRestoreReport();
    if (report.isEmpty())
        return;
    const bool failed = report.contains(QStringLiteral("请以 root 身份运行"));
    prompts().messageBox(nullptr, report, QStringLiteral("温馨提示"),
                         MB_OK | (failed ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

}  // namespace

CTarnboxApp::CTarnboxApp(int &argc, char **argv) : QApplication(argc, argv)
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
    const CommandLine commandLine = ParseCommandLine(arguments());
    if (const std::optional<int> exitCode = AnswerWithoutWindow(commandLine)) {
        m_exitCode = *exitCode;
        return false;
    }
    setOrganizationName(settingsKey());

    // Qt's own dialogs speak Chinese with the rest of the window, whatever
    // the locale; without the translation they stay in English (logged).
    QTranslator qtTranslator;
    installQtTranslation(qtTranslator);

    WidgetPrompts widgetPrompts;
    const QString scriptedApply = ScriptedPrompts::applyTarget();
    const QString scriptedMount = ScriptedPrompts::mountTarget();
    ScriptedPrompts scripted(scriptedApply.isEmpty() ? scriptedMount : scriptedApply);
    setPrompts(scriptedApply.isEmpty() && scriptedMount.isEmpty() ? static_cast<Prompts *>(&widgetPrompts) : &scripted);
    reportRestoredDrives();

    {
        // The per-user configuration; read at once, written as archives open.
        QSettings settings;
        CTarnboxDlg dlg;
        dlg.UseRecentArchivesFrom(&settings);
        if (!commandLine.archive.isEmpty())
            dlg.OpenAtStart(commandLine.archive);
        // Once the window shows: the mounts an earlier run left.
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.OfferRecordedMounts(); });
        if (!scriptedApply.isEmpty())
            QTimer::singleShot(0, &dlg, [&dlg] { dlg.OnCommand(res::ID_APPLY_IMAGE); });  // after the open
        else if (!scriptedMount.isEmpty())
            QTimer::singleShot(0, &dlg, [&dlg] { dlg.OnCommand(res::ID_MOUNT_IMAGE_RW); });
        installTerminationHandler([] {
            if (CTarnboxDlg *main = g_pMainDlg.load())
                main->CloseForSessionEnd();
        });
        dlg.exec();
        // The close has waited for the operation it aborted, and nothing can
        // be claimed since; what still runs is the close request's own end.
        // No worker outlives the window, and the program never exits while
        // one runs.
        uiThread::setWindowOpen(false);
        backgroundTasks::waitForAll(-1);
    }
    setPrompts(nullptr);
    return false;
}
