#include "recording_prompts.h"

#include "support/ui_thread.h"

#include <QDialog>
#include <QMetaObject>

RecordingPrompts::RecordingPrompts()
{
    setPrompts(this);
}

RecordingPrompts::~RecordingPrompts()
{
    setPrompts(nullptr);
}

RecordingPrompts::Call RecordingPrompts::record(Kind kind, QObject *owner, const QString &text, const QString &caption,
                                                uint32_t type, const FileChooser &chooser, const QString &detail)
{
    Call c{kind, text, caption, type, chooser, uiThread::isUiThread(), owner, detail, {}};
    QMutexLocker lock(&m_mutex);
    m_calls.append(c);
    return c;
}

int RecordingPrompts::messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type)
{
    return messageBox(owner, text, caption, type, QString());
}

int RecordingPrompts::messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type,
                                 const QString &detail)
{
    record(Kind::MessageBox, owner, text, caption, type, {}, detail);
    QMutexLocker lock(&m_mutex);
    if (m_messageAnswers.empty())
        return defaultAnswer(type);
    const int a = m_messageAnswers.front();
    m_messageAnswers.pop_front();
    return a;
}

QString RecordingPrompts::pickFolder(QObject *owner, const QString &title)
{
    record(Kind::PickFolder, owner, title);
    QMutexLocker lock(&m_mutex);
    if (m_folders.empty())
        return {};
    const QString a = m_folders.front();
    m_folders.pop_front();
    return a;
}

QString RecordingPrompts::pickFolderFrom(QObject *owner, const QString &title, const QString &start)
{
    const QString chosen = pickFolder(owner, title);
    QMutexLocker lock(&m_mutex);
    m_calls.back().input = start;
    return chosen;
}

QString RecordingPrompts::openFile(QObject *owner, const FileChooser &chooser)
{
    record(Kind::OpenFile, owner, {}, {}, 0, chooser);
    QMutexLocker lock(&m_mutex);
    if (m_openFiles.empty())
        return {};
    const QString a = m_openFiles.front();
    m_openFiles.pop_front();
    return a;
}

QString RecordingPrompts::saveFile(QObject *owner, const FileChooser &chooser)
{
    record(Kind::SaveFile, owner, {}, {}, 0, chooser);
    QMutexLocker lock(&m_mutex);
    if (m_saveFiles.empty())
        return {};
    const QString a = m_saveFiles.front();
    m_saveFiles.pop_front();
    return a;
}

int RecordingPrompts::execDialog(QDialog &dialog)
{
    record(Kind::Dialog, dialog.parent(), QString::fromLatin1(dialog.metaObject()->className()));
    std::function<int(QDialog &)> handler;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_dialogHandler;
    }
    dialog.show();
    const int result = handler ? handler(dialog) : int(QDialog::Rejected);
    dialog.hide();
    return result;
}

bool RecordingPrompts::inputText(QObject *owner, const QString &title, const QString &label, QString *text)
{
    Call c{Kind::InputText, title, label, 0, {}, uiThread::isUiThread(), owner, {}, *text};
    QMutexLocker lock(&m_mutex);
    m_calls.append(c);
    if (m_inputs.empty())
        return false;
    *text = m_inputs.front();
    m_inputs.pop_front();
    return true;
}

int RecordingPrompts::choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons)
{
    record(Kind::MessageBox, owner, text, caption, 0, {}, buttons.join(QLatin1Char('|')));
    QMutexLocker lock(&m_mutex);
    if (m_messageAnswers.empty())
        return -1;
    const int a = m_messageAnswers.front();
    m_messageAnswers.pop_front();
    return a;
}

void RecordingPrompts::answerMessage(int answer)
{
    QMutexLocker lock(&m_mutex);
    m_messageAnswers.push_back(answer);
}

void RecordingPrompts::answerFolder(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    m_folders.push_back(path);
}

void RecordingPrompts::answerOpenFile(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    m_openFiles.push_back(path);
}

void RecordingPrompts::answerSaveFile(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    m_saveFiles.push_back(path);
}

void RecordingPrompts::answerInput(const QString &text)
{
    QMutexLocker lock(&m_mutex);
    m_inputs.push_back(text);
}

void RecordingPrompts::onDialog(std::function<int(QDialog &)> handler)
{
    QMutexLocker lock(&m_mutex);
    m_dialogHandler = std::move(handler);
}

QList<RecordingPrompts::Call> RecordingPrompts::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QList<RecordingPrompts::Call> RecordingPrompts::messages() const
{
    QList<Call> out;
    for (const Call &c : calls()) {
        if (c.kind == Kind::MessageBox)
            out.append(c);
    }
    return out;
}

QStringList RecordingPrompts::messageTexts() const
{
    QStringList out;
    for (const Call &c : messages())
        out.append(c.text);
    return out;
}

QStringList RecordingPrompts::messageDetails() const
{
    QStringList out;
    for (const Call &c : messages())
        out.append(c.detail);
    return out;
}

void RecordingPrompts::clear()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
}
