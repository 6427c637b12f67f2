#pragma once

#include "resources/dialog_template.h"

#include <QHash>
#include <QList>
#include <QRect>

class QDialog;
class QWidget;

// Builds the controls of a dialog template on a fixed-size dialog: each widget
// at its rectangle, with its text and visibility, objectName from its id and the
// dynamic property "controlId". Returns the controls that have an id.
QHash<int, QWidget *> buildDialogFromTemplate(QDialog *dialog, const res::DialogTemplate &t);

// The rectangles of a template's controls (pixels) with room for the text of
// each label: textWidths[i] > 0 is label i's text width. A label too narrow
// for its text widens over free room on its row; a control that follows such
// a label too closely on its row (same visibility) moves right with every
// control sharing its left edge, keeping its right edge. Others stay as given.
QList<QRect> fitTextsInRows(const QList<QRect> &rects, const QList<int> &textWidths, const QList<bool> &visible,
                            int dialogWidth);

// The control of `dialog` whose "controlId" property is `id`, or nullptr.
QWidget *findControl(const QWidget *dialog, int id);
