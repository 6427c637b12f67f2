#pragma once

#include <QString>
#include <QStringList>

class CTarnboxDlg;
class QWidget;
class RecordingPrompts;

// What the main window shows, read back the way a user would see it.
namespace windowview {

// The text of the label with this object name ("<missing>" when there is none).
QString labelText(const QWidget &window, const char *name);

// Every row of the image list, its cells joined by "|".
QStringList rows(const CTarnboxDlg &dlg);

// The status fields as shown: compression, image count, path, access, working directory.
QStringList status(const CTarnboxDlg &dlg);

// The modal dialogs that were run, by class name.
QStringList dialogsRun(const RecordingPrompts &prompts);

// Closes the window's archive, as closing the window would.
void closeArchive(CTarnboxDlg &dlg);

}  // namespace windowview
