#pragma once

#include <QString>
#include <QStringList>

// Paths inside an image as the browse dialog shows and takes them: "/" for
// the root, else "/" and the names below it joined by "/", the form the
// imaging boundary's browsing calls use.

// What the user typed into the path bar as an image path. "\" separates as
// "/" does (Windows users type them), empty names and "." are dropped, ".."
// goes up one folder (never above the root); nothing typed is the root.
// Blanks around the whole text are dropped (Windows names never end in one).
QString ImagePathFromTyped(const QString &typed);

// The folder holding `path`; the root for the root itself.
QString ParentImagePath(const QString &path);

// The entry `name` inside `folder`.
QString JoinImagePath(const QString &folder, const QString &name);

// The root and every folder on the way down to `path`, `path` last:
// "/a/b" gives "/", "/a", "/a/b".
QStringList ImagePathChain(const QString &path);
