#pragma once

#include <QString>

// The name filters QFileDialog takes ("Label (*.a *.b);;...") for a chooser
// filter in the bar-separated form ("Label|*.a;*.b|...||"). QFileDialog shows
// each name filter as it is given and takes its patterns from the last
// parentheses, so a label that already ends in its own patterns, as
// "Wim镜像(*.wim)" does, goes alone and is shown exactly as written.
QString qtNameFilters(const QString &barFilter);

// The extension a name typed without one takes while `nameFilter` (one of
// qtNameFilters' entries) is chosen: "esd" for "ESD镜像(*.esd)". Empty when
// the entry has several patterns or one that is not "*.ext".
QString suffixOfNameFilter(const QString &nameFilter);
