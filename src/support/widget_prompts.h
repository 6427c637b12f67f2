#pragma once

#include "support/prompts.h"

// The production prompts: QMessageBox and QFileDialog on the UI thread.
class WidgetPrompts : public Prompts
{
public:
    int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type) override;
    int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type,
                   const QString &detail) override;
    QString pickFolder(QObject *owner, const QString &title) override;
    QString pickFolderFrom(QObject *owner, const QString &title, const QString &start) override;
    QString openFile(QObject *owner, const FileChooser &chooser) override;
    QString saveFile(QObject *owner, const FileChooser &chooser) override;
    int execDialog(QDialog &dialog) override;
    bool inputText(QObject *owner, const QString &title, const QString &label, QString *text) override;
    int choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons) override;
};
