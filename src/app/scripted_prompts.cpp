#include "app/scripted_prompts.h"

#include <QDialog>

#include <cstdio>

QString ScriptedPrompts::applyTarget()
{
    return qEnvironmentVariable("PELLWICK_TEST_APPLY_TO");
}

QString ScriptedPrompts::mountTarget()
{
    return qEnvironmentVariable("PELLWICK_TEST_MOUNT_RW_TO");
}

int ScriptedPrompts::messageBox(QObject *, const QString &text, const QString &caption, uint32_t type)
{
    std::fprintf(stderr, "prompt: %s: %s\n", qPrintable(caption), qPrintable(text));
    return defaultAnswer(type);
}

QString ScriptedPrompts::pickFolder(QObject *, const QString &title)
{
    std::fprintf(stderr, "prompt: %s: %s\n", qPrintable(title), qPrintable(m_folder));
    return m_folder;
}

int ScriptedPrompts::execDialog(QDialog &dialog)
{
    std::fprintf(stderr, "prompt: %s\n", qPrintable(dialog.windowTitle()));
    return QDialog::Rejected;
}
