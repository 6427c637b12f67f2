#include "recording_host.h"

#include "operations/message_callback.h"
#include "operations/operation_runner.h"
#include "support/ui_thread.h"

#include <QMutexLocker>

RecordingHost::RecordingHost()
{
    uiThread::setWindowOpen(true);
    // Nor does a close confirmed there answer this host's library messages.
    g_nAbort.store(0);
}

void RecordingHost::BeginBusy()
{
    note(QStringLiteral("BeginBusy"));
    QMutexLocker lock(&m_mutex);
    m_busy = true;
}

void RecordingHost::EndBusy()
{
    note(QStringLiteral("EndBusy"));
    QMutexLocker lock(&m_mutex);
    m_busy = false;
}

void RecordingHost::HideBusyNow()
{
    note(QStringLiteral("HideBusyNow"));
    QMutexLocker lock(&m_mutex);
    m_busy = false;
}

bool RecordingHost::IsBusy() const
{
    QMutexLocker lock(&m_mutex);
    return m_busy;
}

void RecordingHost::SetFilterActive(bool active)
{
    note(QStringLiteral("SetFilterActive %1").arg(active));
    m_filterActive.store(active);
}

void RecordingHost::OnOpProgress(int percent)
{
    note(QStringLiteral("OnOpProgress %1").arg(percent));
}

void RecordingHost::AppendLogLine(unsigned message, const QString &path, qint32 code)
{
    note(QStringLiteral("AppendLogLine %1 %2 %3").arg(message).arg(path).arg(code));
}

void RecordingHost::OnOpProcess(const char16_t *path, int32_t *keep)
{
    note(QStringLiteral("OnOpProcess %1").arg(QString::fromUtf16(path)));
    if (m_filterRunner && m_filterActive.load())
        m_filterRunner->process(path, keep);
}

ArchiveState RecordingHost::OpenArchiveState() const
{
    QMutexLocker lock(&m_mutex);
    return m_archive;
}

void RecordingHost::AddCapturedImage(const ImageInfo &record)
{
    note(QStringLiteral("AddCapturedImage"));
    QMutexLocker lock(&m_mutex);
    m_captured.append(record);
}

void RecordingHost::AppendLogText(const QString &line)
{
    note(QStringLiteral("AppendLogText ") + line);
}

bool RecordingHost::LoadImageList()
{
    note(QStringLiteral("LoadImageList"));
    QMutexLocker lock(&m_mutex);
    return m_loads;
}

void RecordingHost::setArchive(const ArchiveState &state)
{
    QMutexLocker lock(&m_mutex);
    m_archive = state;
}

void RecordingHost::setLoadsImageList(bool loads)
{
    QMutexLocker lock(&m_mutex);
    m_loads = loads;
}

void RecordingHost::note(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(line);
}

QStringList RecordingHost::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QList<ImageInfo> RecordingHost::captured() const
{
    QMutexLocker lock(&m_mutex);
    return m_captured;
}

void RecordingHost::clear()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
    m_captured.clear();
}
