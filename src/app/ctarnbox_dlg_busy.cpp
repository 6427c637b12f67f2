// The busy state, the progress area, the operation log and the end-of-operation
// report of the main window.
#include "app/ctarnbox_dlg.h"

#include "operations/message_callback.h"
#include "operations/progress_text.h"
#include "support/cerror_show.h"
#include "support/clock.h"
#include "support/error_cause.h"
#include "support/prompts.h"
#include "support/ui_thread.h"

#include <QLabel>
#include <QProgressBar>

void CTarnboxDlg::setBusyVisible(bool visible)
{
    // 1011 first when hiding: it is the busy test.
    if (visible) {
        m_Progress->show();
        m_lblBusy->show();
        m_lblRemaining->show();
        m_lblPercent->show();
    } else {
        m_lblBusy->hide();
        m_Progress->hide();
        m_lblRemaining->hide();
        m_lblPercent->hide();
    }
    m_busy.store(visible, std::memory_order_release);
}

void CTarnboxDlg::BeginBusy()
{
    uiThread::run([this] {
        m_bFilterActive.store(false);
        m_tStart = appClock().wallSeconds();
        m_tStartMonotonicMs = appClock().monotonicMs();
        m_strRemaining = QStringLiteral("正在预计");
        m_strPercent = QStringLiteral("0%");
        // A close confirmed before this operation got busy still stops it.
        g_nAbort.store(m_runner.abortAnswer());
        m_Progress->setValue(0);
        setBusyVisible(true);
        RefreshWindow();
    });
}

void CTarnboxDlg::EndBusy()
{
    appClock().sleepMs(500);
    uiThread::run([this] { setBusyVisible(false); });
    // Once the window has gone, the state still has to read idle.
    m_busy.store(false, std::memory_order_release);
}

void CTarnboxDlg::HideBusyNow()
{
    // 1011 and 1010 first, then the texts: nothing of the progress area stays.
    uiThread::run([this] { setBusyVisible(false); });
    m_busy.store(false, std::memory_order_release);
}

bool CTarnboxDlg::IsBusy() const
{
    return m_busy.load(std::memory_order_acquire);
}

void CTarnboxDlg::SetFilterActive(bool active)
{
    uiThread::run([this, active] { m_bFilterActive.store(active, std::memory_order_release); });
}

void CTarnboxDlg::OnOpProcess(const char16_t *path, int32_t *keep)
{
    if (m_bFilterActive.load(std::memory_order_acquire))
        m_runner.process(path, keep);
}

void CTarnboxDlg::ClearLog()
{
    m_strLog.clear();
}

void CTarnboxDlg::AppendLogText(const QString &line)
{
    AppendToLog(m_strLog, line);
}

void CTarnboxDlg::OnOpProgress(int percent)
{
    if (percent != 0) {
        const qint64 elapsed = (appClock().monotonicMs() - m_tStartMonotonicMs) / 1000;
        m_strRemaining = FormatDuration(EstimateRemainingSeconds(elapsed, percent));
        m_strPercent = FormatPercent(percent);
        RefreshWindow();
    }
    m_Progress->setValue(qBound(0, percent, 100));
}

void CTarnboxDlg::AppendLogLine(unsigned message, const QString &path, qint32 code)
{
    // The numbers are the system's error numbers: their words follow them.
    const QString line = FormatLogLine(message, path, code);
    if (!line.isEmpty())
        AppendToLog(m_strLog, withSystemErrorText(line, code));
}

void CTarnboxDlg::ReportFinished()
{
    const QString text = uiThread::call(QString(), [this] {
        const qint64 elapsed = (appClock().monotonicMs() - m_tStartMonotonicMs) / 1000;
        m_strRemaining = FormatDuration(elapsed);
        return FinishedMessage(m_strRemaining);
    });
    if (!text.isEmpty())
        uiThread::messageBox(this, text, QStringLiteral("温馨提示"), MB_OK);
}

void CTarnboxDlg::ShowLog()
{
    uiThread::run([this] {
        if (m_strLog.isEmpty())
            return;
        CErrorShow dialog(this);
        dialog.m_strText = m_strLog;
        prompts().execDialog(dialog);
    });
}
