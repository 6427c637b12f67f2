#include "support/ui_thread.h"

#include "support/platform.h"

namespace uiThread {

namespace {
std::atomic<bool> g_windowOpen{true};
}

bool isUiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool windowOpen()
{
    return g_windowOpen.load(std::memory_order_acquire);
}

void setWindowOpen(bool open)
{
    g_windowOpen.store(open, std::memory_order_release);
}

int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type, const QString &detail)
{
    const QString shown = caption.isEmpty() ? QCoreApplication::applicationName() : caption;
    return call(defaultAnswer(type), [&] { return prompts().messageBox(owner, text, shown, type, detail); });
}

QString pickFolder(QObject *owner, const QString &title)
{
    return call(QString(), [&] { return prompts().pickFolder(owner, title); });
}

QString pickFolderPath(QObject *owner, const QString &start)
{
    const QString title = QStringLiteral("选择目录");
    const QString chosen = call(QString(), [&] {
        return start.isEmpty() ? prompts().pickFolder(owner, title) : prompts().pickFolderFrom(owner, title, start);
    });
    if (chosen.isEmpty())
        return {};
    return platform::withoutTrailingSeparator(chosen);
}

QString openFile(QObject *owner, const FileChooser &chooser)
{
    return call(QString(), [&] { return prompts().openFile(owner, chooser); });
}

QString saveFile(QObject *owner, const FileChooser &chooser)
{
    return call(QString(), [&] { return prompts().saveFile(owner, chooser); });
}

bool inputText(QObject *owner, const QString &title, const QString &label, QString *text)
{
    return call(false, [&] { return prompts().inputText(owner, title, label, text); });
}

int choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons)
{
    return call(-1, [&] { return prompts().choose(owner, text, caption, buttons); });
}

}  // namespace uiThread
