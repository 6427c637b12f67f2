#pragma once

#include <QString>

#include <wimlib.h>

// Split sets: one archive written as parts NAME.swm, NAME2.swm, NAME3.swm, ...
// (the names wimlib-imagex and the Windows tools give them); the first part
// holds the images' metadata, every part some of the file data. wimlib reads
// a set through the first part's WIMStruct once the others are referenced.
namespace wimsplit {

// Part `number` (1-based) of the set whose first part is `firstPart`, named
// as wimlib and the Windows tools name them: the number goes before the file
// name's last dot ("install.swm" gives "install3.swm"), or at its end when it
// has none. Part 1 is firstPart itself.
QString partPath(const QString &firstPart, unsigned number);

// Why a set cannot be read: the part at fault, with errno ENOENT when it is
// missing.
struct Problem {
    int code = 0;         // a wimlib error code; 0 = no problem
    int systemError = 0;  // errno, when a part is missing or cannot be read
    QString text;         // names the part ("part 3 of 4, install3.swm, is missing")
};

// `wim` was opened from `path`. For the first part of a set, checks that every
// other part is beside it and belongs to it (the same GUID, the right number
// and count) and references them, opened with `openFlags`, so that the set
// reads as one archive. Another part than the first is refused: only the
// first knows the images. A single archive is left alone.
Problem attachParts(WIMStruct *wim, const QString &path, int openFlags);

// For an open that failed: what attachParts found wrong with the set whose
// part is at `path`, if it is one (code 0 otherwise).
Problem diagnose(const QString &path);

}  // namespace wimsplit
