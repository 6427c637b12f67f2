#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Which files the window takes as archives when they come from outside the
// file chooser: a drop on the window.

// Whether the name ends in .wim, .esd or .swm, in any letter case.
bool IsArchiveFileName(const QString &path);

// The archive a drop brings: its one URL when that names a local file (not a
// folder) with an archive's name; "" otherwise, so that several files,
// another type or a remote location are refused as a whole.
QString DroppedArchive(const QList<QUrl> &urls);
