#pragma once

#include "imaging/imaging_library.h"

#include <QList>
#include <QString>

// The commands of `pellwick-wim update`, one a line, in wimlib-imagex
// update's syntax without its options:
//   add SOURCE IMAGE_PATH
//   delete IMAGE_PATH
//   rename OLD_PATH NEW_PATH
// Words are separated by blanks; a word in double or single quotes may hold
// blanks (the other quote inside it is plain text). Empty lines and lines
// whose first word begins with "#" are skipped.
// All or nothing: false at the first line that is not a command, with
// *error naming it ("line 3: ..."), and *updates left empty.
bool parseImageUpdates(const QString &text, QList<ImagingUpdate> *updates, QString *error);
