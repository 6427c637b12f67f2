// Closing the main window: at once when idle; while an operation is claimed or
// busy, after the user confirms, by aborting it and waiting for its end.
#include "app/ctarnbox_dlg.h"

#include "imaging/imaging_library.h"
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
    uiThread::run([this] {
        m_hWim.close();
        // From here on a worker that is still finishing gets default answers
        // instead of reaching a window that is going away.
        uiThread::setWindowOpen(false);
        rejectOpenDialogs();
        QDialog::done(QDialog::Rejected);
    });
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
