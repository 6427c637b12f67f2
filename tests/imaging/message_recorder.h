#pragma once

#include "imaging/wim_types.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

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
        Message m {id, QString(), id == WIM_MSG_PROGRESS ? qint64(wParam) : qint64(lParam)};
        if (id != WIM_MSG_PROGRESS && wParam)
            m.path = QString::fromUtf16(reinterpret_cast<const char16_t *>(wParam));
        bool abort = false;
        {
            std::lock_guard lock(m_mutex);
            m_messages << m;
            if (!m_threads.contains(QThread::currentThreadId()))
                m_threads << QThread::currentThreadId();
            if (id == WIM_MSG_PROGRESS)
                m_sawProgress = true;
            if (id == WIM_MSG_PROCESS) {
                ++m_processCount;
                abort = (abortAtProcess > 0 && m_processCount >= abortAtProcess)
                    || (abortAfterProgress && m_sawProgress);
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
};
