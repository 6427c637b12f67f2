#pragma once

#include "resources/dialog_template.h"

#include <QHash>

class QDialog;
class QWidget;

// Builds the controls of a dialog template on a fixed-size dialog: each widget
// at its rectangle, with its text and visibility, objectName from its id and the
// dynamic property "controlId". Returns the controls that have an id.
QHash<int, QWidget *> buildDialogFromTemplate(QDialog *dialog, const res::DialogTemplate &t);

// The control of `dialog` whose "controlId" property is `id`, or nullptr.
QWidget *findControl(const QWidget *dialog, int id);
