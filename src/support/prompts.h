#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class QObject;
class QDialog;

// Message-box types and answers, with the Windows values the program uses.
constexpr uint32_t MB_OK = 0x00000000;
constexpr uint32_t MB_OKCANCEL = 0x00000001;
constexpr uint32_t MB_YESNO = 0x00000004;
constexpr uint32_t MB_ICONERROR = 0x00000010;
constexpr uint32_t MB_ICONQUESTION = 0x00000020;
constexpr uint32_t MB_ICONEXCLAMATION = 0x00000030;
constexpr uint32_t MB_ICONINFORMATION = 0x00000040;
constexpr uint32_t MB_TYPEMASK = 0x0000000F;
constexpr uint32_t MB_ICONMASK = 0x000000F0;
constexpr uint32_t MB_DEFBUTTON2 = 0x00000100;  // the second button (Cancel, No) is the default
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// A file chooser's settings. filter is in the bar-separated form
// "Label(*.ext)|*.ext||".
struct FileChooser {
    QString filter;
    QString defaultExtension;
    QString initialName;
    bool overwritePrompt = false;
};

// Every message box, chooser and modal dialog the program shows goes through
// this interface, so that tests can answer them and see what was asked.
// Implementations are called on the user-interface thread only (workers reach
// them through uiThread::messageBox and friends).
class Prompts
{
public:
    virtual ~Prompts() = default;

    // Returns IDOK or IDCANCEL (IDYES or IDNO for MB_YESNO). caption is never empty here.
    virtual int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type) = 0;
    // The same with detail, when not empty, shown beneath text in smaller
    // type (the cause of a failure). Prompts that cannot show it leave it
    // out: the default asks without it.
    virtual int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type,
                           const QString &detail)
    {
        Q_UNUSED(detail);
        return messageBox(owner, text, caption, type);
    }
    // The chosen folder's file-system path as the chooser gives it; empty on cancel.
    virtual QString pickFolder(QObject *owner, const QString &title) = 0;
    // The same, the chooser opening in `start` where it can.
    virtual QString pickFolderFrom(QObject *owner, const QString &title, const QString & /*start*/)
    {
        return pickFolder(owner, title);
    }
    // The chosen file's full path; empty on cancel.
    virtual QString openFile(QObject *owner, const FileChooser &chooser) = 0;
    virtual QString saveFile(QObject *owner, const FileChooser &chooser) = 0;
    // Runs a modal dialog and returns its result (QDialog::Accepted / Rejected).
    virtual int execDialog(QDialog &dialog) = 0;
    // A question whose answers are `buttons` (the first is the default):
    // the index of the one chosen, or -1 for Escape and the close box.
    // Prompts that cannot ask return -1.
    virtual int choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons)
    {
        Q_UNUSED(owner);
        Q_UNUSED(text);
        Q_UNUSED(caption);
        Q_UNUSED(buttons);
        return -1;
    }
    // A line of text in a small dialog with OK and Cancel: `title`, `label`
    // above the box, *text shown in it at first. True on OK, with *text as
    // typed; false on cancel, *text unchanged. Prompts that cannot ask cancel.
    virtual bool inputText(QObject *owner, const QString &title, const QString &label, QString *text)
    {
        Q_UNUSED(owner);
        Q_UNUSED(title);
        Q_UNUSED(label);
        Q_UNUSED(text);
        return false;
    }
};

// The process-wide instance; until one is installed, every prompt is answered
// with its default (OK for an OK-only box, Cancel otherwise).
Prompts &prompts();
// Installs an instance (the caller keeps ownership); nullptr restores the default.
void setPrompts(Prompts *p);

// The answer a prompt of this type gets when nobody can be asked.
int defaultAnswer(uint32_t type);

// While set, prompts() answers every prompt with its default, whatever is
// installed: the user has confirmed closing the window, and what an operation
// still asks on its way to its end must not keep the window open.
void setPromptsUnattended(bool unattended);
