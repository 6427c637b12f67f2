// Closing the main window: at once when idle; while an operation is claimed or
// busy, after the user confirms, by aborting it and waiting for its end.
#include "app/ctarnbox_dlg.h"

#include "imaging/imaging_library.h"
#include "operations/operation.h"
#include "support/background_task.h"
#include "support/clock.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QApplication>

void CTarnboxDlg::CloseApp()
{
    // A second Esc while the first request is still asking changes nothing.
    if (m_closeRequested.exchange(true))
        return;
    backgroundTasks::start([this] { CloseWorker(); });
}

void CTarnboxDlg::CloseForSessionEnd()
{
    m_closeWithoutAsking.store(true);
    CloseApp();
}

void CTarnboxDlg::CloseWorker()
{
    // Idle, nothing can be claimed any more from here on; otherwise ask,
    // unless the session ends while no long step runs (an operation showing
    // its completion message): that has nothing left to lose.
    const bool withoutAsking = m_closeWithoutAsking.exchange(false);
    // What is left running is asked about while nothing runs (a session's
    // end leaves it as it is: it outlives the window).
    std::vector<std::unique_ptr<Operation>> endings;
    if (!withoutAsking && !IsBusy() && !m_runner.isClaimed() && !AskAboutLastingOperations(&endings)) {
        m_closeRequested.store(false);
        return;
    }
    if (IsBusy() || !m_runner.closeIfIdle()) {
        const int answer = withoutAsking && !IsBusy()
                               ? IDOK
                               : uiThread::messageBox(this, QStringLiteral("当前正在处理中，你确定要关闭应用程序？"),
                                                      QStringLiteral("温馨提示"), MB_OKCANCEL | MB_ICONEXCLAMATION);
        if (answer != IDOK) {
            m_closeRequested.store(false);
            return;
        }
        // The library stops at its next file, what the operation asks from
        // now on is answered at once, and what it has open ends now: nothing
        // keeps it from its end. A format chain is left to finish.
        m_runner.abort();
        uiThread::run([this] { rejectOpenDialogs(); });
        while (IsBusy() || m_runner.isClaimed())
            appClock().sleepMs(100);
    }
    // The runner is closed: nothing else can start while these run.
    for (const auto &ending : endings)
        m_runner.run(*ending);
    uiThread::run([this] {
        m_hWim.close();
        // From here on a worker that is still finishing gets default answers
        // instead of reaching a window that is going away.
        uiThread::setWindowOpen(false);
        rejectOpenDialogs();
        QDialog::done(QDialog::Rejected);
    });
}

bool CTarnboxDlg::AskAboutLastingOperations(std::vector<std::unique_ptr<Operation>> *endings)
{
    const auto lasting = m_runner.lasting();
    if (lasting.isEmpty())
        return true;
    QStringList lines;
    bool changes = false;
    for (const auto &one : lasting) {
        lines << one->description();
        changes = changes || one->hasChanges();
    }
    const QStringList buttons =
        changes ? QStringList{QStringLiteral("提交更改"), QStringLiteral("放弃更改"), QStringLiteral("保持挂载"),
                              QStringLiteral("取消")}
                : QStringList{QStringLiteral("卸载映像"), QStringLiteral("保持挂载"), QStringLiteral("取消")};
    const int answer = uiThread::choose(
        this, QStringLiteral("以下映像仍处于挂载状态：\n%1\n关闭程序前如何处理？").arg(lines.join(QLatin1Char('\n'))),
        QStringLiteral("温馨提示"), buttons);
    if (answer < 0 || answer == buttons.size() - 1)
        return false;
    if (answer == buttons.size() - 2)
        return true;  // left mounted: the serving process outlives the window
    const auto how = answer == 0 && changes ? LastingOperation::Ending::Commit : LastingOperation::Ending::Discard;
    for (const auto &one : lasting)
        endings->push_back(one->ending(how));
    return true;
}

void CTarnboxDlg::rejectOpenDialogs()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        auto *dialog = qobject_cast<QDialog *>(w);
        if (dialog && dialog != this && dialog->isVisible())
            dialog->done(QDialog::Rejected);
    }
}
