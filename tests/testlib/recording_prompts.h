#pragma once

#include "support/prompts.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

class QDialog;

// A Prompts double: records every prompt (what was asked, on which thread)
// and answers from scripted queues, or with the default when a queue is empty.
class RecordingPrompts : public Prompts
{
public:
    enum class Kind { MessageBox, PickFolder, OpenFile, SaveFile, Dialog, InputText };

    struct Call {
        Kind kind;
        QString text;  // message text, chooser title, or dialog class name
        QString caption;
        uint32_t type = 0;  // MB_ flags
        FileChooser chooser;
        bool onUiThread = false;
        QObject *owner = nullptr;
        QString detail;  // a message box's text beneath its main text
        QString input;   // the text an input dialog showed at first, or the folder a chooser opened in
    };

    RecordingPrompts();            // installs itself
    ~RecordingPrompts() override;  // restores the default

    int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type) override;
    int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type,
                   const QString &detail) override;
    QString pickFolder(QObject *owner, const QString &title) override;
    QString pickFolderFrom(QObject *owner, const QString &title, const QString &start) override;
    QString openFile(QObject *owner, const FileChooser &chooser) override;
    QString saveFile(QObject *owner, const FileChooser &chooser) override;
    int execDialog(QDialog &dialog) override;
    // Records the title as text and the label as caption.
    bool inputText(QObject *owner, const QString &title, const QString &label, QString *text) override;
    // Recorded as a message box (its buttons, "|"-joined, as detail); the
    // answer is the next message answer as the button's index, else -1.
    int choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons) override;

    // Scripted answers, used in order.
    void answerMessage(int answer);
    void answerFolder(const QString &path);
    void answerOpenFile(const QString &path);
    void answerSaveFile(const QString &path);
    // The text typed into the next input dialog; without one it is cancelled.
    void answerInput(const QString &text);
    // Runs for every modal dialog, shown (offscreen) while it runs; its result
    // is the dialog's. Without one, dialogs are rejected.
    void onDialog(std::function<int(QDialog &)> handler);

    QList<Call> calls() const;
    QList<Call> messages() const;  // message boxes only
    QStringList messageTexts() const;
    QStringList messageDetails() const;  // in the order of messageTexts()
    void clear();

private:
    Call record(Kind kind, QObject *owner, const QString &text, const QString &caption = {}, uint32_t type = 0,
                const FileChooser &chooser = {}, const QString &detail = {});

    mutable QMutex m_mutex;
    QList<Call> m_calls;
    std::deque<int> m_messageAnswers;
    std::deque<QString> m_folders;
    std::deque<QString> m_openFiles;
    std::deque<QString> m_saveFiles;
    std::deque<QString> m_inputs;
    std::function<int(QDialog &)> m_dialogHandler;
};
