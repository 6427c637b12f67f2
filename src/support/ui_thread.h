#pragma once

#include "support/prompts.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <type_traits>
#include <utility>

// The blocking hand-over from a worker thread to the user-interface thread.
//
// Workers never touch widgets: they run a function on the UI thread and wait
// for its result. On the UI thread the function runs directly (a blocking
// queued call to oneself would dead-lock). Once the main window has closed
// (setWindowOpen(false)), nothing reaches the UI any more: the call returns
// its fallback at once, and a call already queued returns the fallback
// without running. Without an application object there is no UI thread at
// all, and nothing runs either: what a function would reach is gone.
namespace uiThread {

bool isUiThread();
bool windowOpen();
void setWindowOpen(bool open);

template <class F>
void run(F &&f)
{
    if (isUiThread()) {
        f();
        return;
    }
    if (!windowOpen() || !QCoreApplication::instance())
        return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&f] {
            if (windowOpen())
                f();
        },
        Qt::BlockingQueuedConnection);
}

template <class F, class R = std::invoke_result_t<F>>
R call(R fallback, F &&f)
{
    if (isUiThread())
        return f();
    R result = std::move(fallback);
    if (!windowOpen() || !QCoreApplication::instance())
        return result;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&f, &result] {
            if (windowOpen())
                result = f();
        },
        Qt::BlockingQueuedConnection);
    return result;
}

// The prompts, callable from any thread. An empty caption becomes the
// application's name; detail, when not empty, is shown beneath text (the
// cause of a failure, see support/error_cause.h).
int messageBox(QObject *owner, const QString &text, const QString &caption = {}, uint32_t type = MB_OK,
               const QString &detail = {});
QString pickFolder(QObject *owner, const QString &title);
// The program's folder picker, titled "选择目录": the chosen folder without one
// trailing separator (a drive root stays whole), or "" when cancelled.
QString pickFolderPath(QObject *owner, const QString &start = {});
QString openFile(QObject *owner, const FileChooser &chooser);
QString saveFile(QObject *owner, const FileChooser &chooser);
bool inputText(QObject *owner, const QString &title, const QString &label, QString *text);
// Prompts::choose; -1 when nobody can be asked.
int choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons);

}  // namespace uiThread
