#include "support/widget_prompts.h"

#include "support/file_filter.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include <algorithm>

namespace {

QWidget *ownerWidget(QObject *owner)
{
    return qobject_cast<QWidget *>(owner);
}

QString runFileDialog(QObject *owner, const FileChooser &chooser, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(ownerWidget(owner));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(qtNameFilters(chooser.filter));
    if (!chooser.defaultExtension.isEmpty() && chooser.defaultExtension != QLatin1String("*"))
        dialog.setDefaultSuffix(chooser.defaultExtension);
    // A name typed without an extension takes the chosen type's (an ESD for
    // "ESD镜像(*.esd)"), not always the first type's.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &chooser](const QString &filter) {
        const QString suffix = suffixOfNameFilter(filter);
        if (!suffix.isEmpty())
            dialog.setDefaultSuffix(suffix);
        else if (chooser.defaultExtension != QLatin1String("*"))
            dialog.setDefaultSuffix(chooser.defaultExtension);
    });
    if (!chooser.initialName.isEmpty())
        dialog.selectFile(chooser.initialName);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !chooser.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

}  // namespace

int WidgetPrompts::messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type)
{
    return messageBox(owner, text, caption, type, QString());
}

int WidgetPrompts::messageBox(QObject *owner, const QString &text, const QString &caption, uint32_t type,
                              const QString &detail)
{
    QMessageBox box(ownerWidget(owner));
    box.setWindowTitle(caption);
    box.setText(text);
    // Plain text, both: a path in a message or a cause is never read as markup.
    box.setTextFormat(Qt::PlainText);
    if (!detail.isEmpty()) {
        box.setInformativeText(detail);
        if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
            label->setTextFormat(Qt::PlainText);
            // A short cause on one line beneath a short message; a long one
            // wrapped at a width that still reads as a line.
            int widest = 0;
            for (const QString &line : detail.split(QLatin1Char('\n')))
                widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
            label->setMinimumWidth(std::min(widest + 2, 30 * label->fontMetrics().averageCharWidth() * 2));
        }
    }
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
    QPushButton *ok = box.addButton(yesNo ? QStringLiteral("是") : QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton *cancel = nullptr;
    if (yesNo || (type & MB_TYPEMASK) == MB_OKCANCEL)
        cancel = box.addButton(yesNo ? QStringLiteral("否") : QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel && (type & MB_DEFBUTTON2) ? cancel : ok);
    box.setEscapeButton(cancel ? static_cast<QAbstractButton *>(cancel) : ok);
    box.exec();
    if (yesNo)
        return box.clickedButton() == ok ? IDYES : IDNO;
    return box.clickedButton() == ok ? IDOK : (cancel ? IDCANCEL : IDOK);
}

QString WidgetPrompts::pickFolder(QObject *owner, const QString &title)
{
    return QFileDialog::getExistingDirectory(ownerWidget(owner), title, QString(), QFileDialog::ShowDirsOnly);
}

QString WidgetPrompts::pickFolderFrom(QObject *owner, const QString &title, const QString &start)
{
    return QFileDialog::getExistingDirectory(ownerWidget(owner), title, start, QFileDialog::ShowDirsOnly);
}

QString WidgetPrompts::openFile(QObject *owner, const FileChooser &chooser)
{
    return runFileDialog(owner, chooser, QFileDialog::AcceptOpen);
}

QString WidgetPrompts::saveFile(QObject *owner, const FileChooser &chooser)
{
    return runFileDialog(owner, chooser, QFileDialog::AcceptSave);
}

int WidgetPrompts::execDialog(QDialog &dialog)
{
    return dialog.exec();
}

bool WidgetPrompts::inputText(QObject *owner, const QString &title, const QString &label, QString *text)
{
    QInputDialog dialog(ownerWidget(owner));
    dialog.setWindowTitle(title);
    dialog.setLabelText(label);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(*text);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *text = dialog.textValue();
    return true;
}

int WidgetPrompts::choose(QObject *owner, const QString &text, const QString &caption, const QStringList &buttons)
{
    QMessageBox box(ownerWidget(owner));
    box.setWindowTitle(caption);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Question);
    QList<QAbstractButton *> added;
    for (const QString &label : buttons)
        added.append(box.addButton(label, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    if (!added.isEmpty())
        box.setDefaultButton(static_cast<QPushButton *>(added.first()));
    // Escape and the close box answer -1: no button of ours has the reject role.
    box.exec();
    return int(added.indexOf(box.clickedButton()));
}
