// Closing the main window: at once when idle; while an operation runs, after
// the user confirms, by aborting it and waiting for the end of the busy state.
#include "app/ctarnbox_dlg.h"

#include "imaging/imaging_library.h"
#include "operations/background_task.h"
#include "operations/message_callback.h"
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

void CTarnboxDlg::CloseWorker()
{
    if (IsBusy()) {
        const int answer = uiThread::messageBox(this, QStringLiteral("当前正在处理中，你确定要关闭应用程序？"),
                                                QStringLiteral("温馨提示"), MB_OKCANCEL | MB_ICONEXCLAMATION);
        if (answer != IDOK) {
            m_closeRequested.store(false);
            return;
        }
        g_nAbort.store(-1);
        while (IsBusy())
            appClock().sleepMs(100);
    }
    uiThread::run([this] {
        if (m_hWim) {
            imaging().WIMCloseHandle(m_hWim);
            m_hWim = nullptr;
        }
        // From here on a worker that is still finishing gets default answers
        // instead of reaching a window that is going away; a message box it
        // has open now ends with the window.
        uiThread::setWindowOpen(false);
        const auto widgets = QApplication::topLevelWidgets();
        for (QWidget *w : widgets) {
            auto *dialog = qobject_cast<QDialog *>(w);
            if (dialog && dialog != this && dialog->isVisible())
                dialog->done(QDialog::Rejected);
        }
        QDialog::done(QDialog::Rejected);
    });
}
