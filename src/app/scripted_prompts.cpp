#include "app/scripted_prompts.h"

#include "capture_settings/cwim_image_info.h"
#include "resources/resource_ids.h"

#include <QDialog>

#include <cstdio>

ScriptedPrompts::Script ScriptedPrompts::fromEnvironment()
{
    if (const QString folder = qEnvironmentVariable("PELLWICK_TEST_APPLY_TO"); !folder.isEmpty())
        return {res::ID_APPLY_IMAGE, folder};
    if (const QString folder = qEnvironmentVariable("PELLWICK_TEST_CAPTURE_FROM"); !folder.isEmpty())
        return {res::ID_ADD_IMAGE, folder};
    if (const QString folder = qEnvironmentVariable("PELLWICK_TEST_MOUNT_RW_TO"); !folder.isEmpty())
        return {res::ID_MOUNT_IMAGE_RW, folder};
    return {};
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
    if (auto *info = qobject_cast<CWIM_Image_Info *>(&dialog)) {
        info->m_capturePath = m_folder;
        info->m_imageName = QStringLiteral("scripted");
        return QDialog::Accepted;
    }
    return QDialog::Rejected;
}
