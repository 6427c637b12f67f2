#pragma once

#include "operations/operation_host.h"

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <atomic>

class OperationRunner;

// An OperationHost that records each call by name, in order, from whatever
// thread makes it: operations run against it without building the window.
class RecordingHost : public OperationHost
{
public:
    // Stands for a new window: a window a test closed earlier in the same
    // program no longer keeps the workers' prompts from the UI thread.
    RecordingHost();

    void BeginBusy() override;
    void EndBusy() override;
    void HideBusyNow() override;
    bool IsBusy() const override;
    void ReportFinished() override { note(QStringLiteral("ReportFinished")); }
    void ShowLog() override { note(QStringLiteral("ShowLog")); }
    void SetFilterActive(bool active) override;
    void OnOpProgress(int percent) override;
    void AppendLogLine(unsigned message, const QString &path, qint32 code) override;
    void OnOpProcess(const char16_t *path, int32_t *keep) override;
    QObject *PromptOwner() override { return &m_owner; }
    ArchiveState OpenArchiveState() const override;
    void ClearLog() override { note(QStringLiteral("ClearLog")); }
    void AddCapturedImage(const ImageInfo &record) override;
    void AppendLogText(const QString &line) override;
    bool LoadImageList() override;

    // What OpenArchiveState returns and LoadImageList answers.
    void setArchive(const ArchiveState &state);
    void setLoadsImageList(bool loads);
    // While the filter is on, OnOpProcess hands each path to `runner`'s running
    // operation, as the window does (a capture's exclusions).
    void filterThrough(OperationRunner *runner) { m_filterRunner = runner; }

    // Adds a line of the test's own (an operation's hook) to the record.
    void note(const QString &line);
    QStringList calls() const;
    QList<ImageInfo> captured() const;
    void clear();

private:
    mutable QMutex m_mutex;
    QStringList m_calls;
    QList<ImageInfo> m_captured;
    ArchiveState m_archive;
    bool m_busy = false;
    bool m_loads = true;
    OperationRunner *m_filterRunner = nullptr;
    std::atomic<bool> m_filterActive{false};
    QObject m_owner;
};
