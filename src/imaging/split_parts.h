#pragma once

#include <QString>

// The names of a split set's parts, without the library: NAME.swm, NAME2.swm,
// NAME3.swm, ... as wimlib and the Windows tools give them.
namespace splitparts {

// Part `number` (1-based) of the set whose first part is `firstPart`: the
// number goes before the file name's last dot ("install.swm" gives
// "install3.swm"), or at its end when the name has none. Part 1 is firstPart.
QString partPath(const QString &firstPart, unsigned number);

// The first of parts 2, 3, ... that is not beside `firstPart`, or "" when the
// next 9999 are all there. The library checks a set's parts in this order and
// stops at the first missing one, so after an open that failed because a part
// is missing this names the same part.
QString firstMissingPart(const QString &firstPart);

}  // namespace splitparts
