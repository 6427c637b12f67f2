#pragma once

#include "support/prompts.h"

// The whole program run by a test, without a person: when
// PELLWICK_TEST_APPLY_TO names a folder, the window applies the first image
// of the archive on the command line to it once that is open; when
// PELLWICK_TEST_CAPTURE_FROM does, it captures that folder into the archive
// as a new image; when PELLWICK_TEST_MOUNT_RW_TO does, it mounts that
// image there read-write. Every question takes its default answer (Cancel where there
// is one, so a drive root is not formatted), the folder chooser that folder,
// and the image information dialog that folder with a name. Each prompt goes
// to stderr.
class ScriptedPrompts final : public Prompts
{
public:
    struct Script {
        int command = 0;  // 0 when the program runs for a person
        QString folder;
    };
    static Script fromEnvironment();

    explicit ScriptedPrompts(QString folder) : m_folder(std::move(folder)) {}

    int messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type) override;
    QString pickFolder(QObject *owner, const QString &title) override;
    QString openFile(QObject *, const FileChooser &) override { return {}; }
    QString saveFile(QObject *, const FileChooser &) override { return {}; }
    int execDialog(QDialog &dialog) override;

private:
    const QString m_folder;
};
