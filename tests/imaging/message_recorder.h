#pragma once

#include "imaging/imaging_library.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <functional>
#include <mutex>

// A message callback for tests: records every message (with the thread it
// came on) and answers as scripted. Register it with `this` as user data.
class MessageRecorder
{
public:
    struct Message {
        uint32_t id;
        QString path;  // wParam as text for the path-carrying messages
        qint64 value;  // lParam (error code), or wParam for WIM_MSG_PROGRESS
    };

    // Clears the keep flag of a path for which this returns true.
    std::function<bool(const QString &path)> exclude;
    // Answers WIM_MSG_ABORT_IMAGE to the nth WIM_MSG_PROCESS (1-based) and later ones.
    int abortAtProcess = 0;
    // Answers WIM_MSG_ABORT_IMAGE to the first WIM_MSG_PROCESS after a progress message.
    bool abortAfterProgress = false;
    // Answers WIM_MSG_ABORT_IMAGE to the first WIM_MSG_PROCESS after a progress of at least this percentage.
    int abortAtPercent = -1;
    // Runs inside the callback for every WIM_MSG_PROCESS (re-entrancy tests).
    std::function<void()> duringProcess;

    static uint32_t callback(uint32_t id, uintptr_t wParam, intptr_t lParam, void *userData)
    {
        return static_cast<MessageRecorder *>(userData)->handle(id, wParam, lParam);
    }

    QList<Message> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    QList<int> progress() const
    {
        QList<int> out;
        for (const Message &m : messages()) {
            if (m.id == WIM_MSG_PROGRESS)
                out << int(m.value);
        }
        return out;
    }

    QStringList paths(uint32_t id) const
    {
        QStringList out;
        for (const Message &m : messages()) {
            if (m.id == id)
                out << m.path;
        }
        return out;
    }

    int count(uint32_t id) const { return int(paths(id).size()); }

    QList<Qt::HANDLE> threads() const
    {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }

private:
    uint32_t handle(uint32_t id, uintptr_t wParam, intptr_t lParam)
    {
        Message m{id, QString(), id == WIM_MSG_PROGRESS ? qint64(wParam) : qint64(lParam)};
        if (id != WIM_MSG_PROGRESS && wParam)
            m.path = QString::fromUtf16(reinterpret_cast<const char16_t *>(wParam));
        bool abort = false;
        {
            std::lock_guard lock(m_mutex);
            m_messages << m;
            if (!m_threads.contains(QThread::currentThreadId()))
                m_threads << QThread::currentThreadId();
            if (id == WIM_MSG_PROGRESS) {
                m_sawProgress = true;
                m_highestPercent = std::max(m_highestPercent, int(wParam));
            }
            if (id == WIM_MSG_PROCESS) {
                ++m_processCount;
                abort = (abortAtProcess > 0 && m_processCount >= abortAtProcess)
                        || (abortAfterProgress && m_sawProgress)
                        || (abortAtPercent >= 0 && m_highestPercent >= abortAtPercent);
            }
        }
        if (id != WIM_MSG_PROCESS)
            return WIM_MSG_SUCCESS;
        if (duringProcess)
            duringProcess();
        if (exclude && exclude(m.path))
            *reinterpret_cast<int32_t *>(lParam) = 0;
        return abort ? WIM_MSG_ABORT_IMAGE : WIM_MSG_SUCCESS;
    }

    mutable std::mutex m_mutex;
    QList<Message> m_messages;
    QList<Qt::HANDLE> m_threads;
    int m_processCount = 0;
    bool m_sawProgress = false;
    int m_highestPercent = -1;
};

// Registers a recorder with a library for one scope.
class ScopedRecording
{
public:
    explicit ScopedRecording(ImagingLibrary &lib) : m_lib(lib)
    {
        m_ok = lib.WIMRegisterMessageCallback(nullptr, MessageRecorder::callback, &recorder) != INVALID_CALLBACK_VALUE;
    }
    ~ScopedRecording() { m_lib.WIMUnregisterMessageCallback(nullptr, MessageRecorder::callback); }
    ScopedRecording(const ScopedRecording &) = delete;
    ScopedRecording &operator=(const ScopedRecording &) = delete;
    bool ok() const { return m_ok; }
    MessageRecorder recorder;

private:
    ImagingLibrary &m_lib;
    bool m_ok = false;
};
