#pragma once

#include <QList>
#include <QRect>
#include <QSize>

namespace res {

// Where a control of the main window (template 102) goes when the window is
// `growth` larger than the template: the list takes the extra room; the
// status and progress areas keep their places below it; the two path fields
// and the progress bar widen with the window, and the percentage keeps to
// its right edge. `atTemplateSize` is the control's rectangle at the
// template's size, which a growth of zero returns unchanged; a negative
// growth counts as zero (the template's size is the smallest).
QRect mainWindowControlRect(int id, const QRect &atTemplateSize, const QSize &growth);

// The widths of columns that share `total` pixels in proportion to
// `weights`, none narrower than its minimum; together exactly `total` when
// the minimums leave room, else the minimums.
QList<int> sharedColumnWidths(const QList<int> &weights, const QList<int> &minimums, int total);

}  // namespace res
