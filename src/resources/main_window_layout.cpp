#include "resources/main_window_layout.h"

#include "resources/resource_ids.h"

#include <algorithm>

namespace res {

QRect mainWindowControlRect(int id, const QRect &atTemplateSize, const QSize &growth)
{
    const int dx = std::max(0, growth.width());
    const int dy = std::max(0, growth.height());
    QRect r = atTemplateSize;
    switch (id) {
    case IDC_IMAGE_LIST: r.setSize(r.size() + QSize(dx, dy)); return r;
    case IDC_FILE_PATH:
    case IDC_WORK_DIR:
    case IDC_PROGRESS:
        r.translate(0, dy);
        r.setWidth(r.width() + dx);
        return r;
    case IDC_PERCENT: r.translate(dx, dy); return r;
    default:
        // Every other control sits below the list.
        r.translate(0, dy);
        return r;
    }
}

QList<int> sharedColumnWidths(const QList<int> &weights, const QList<int> &minimums, int total)
{
    const qsizetype n = weights.size();
    QList<int> widths = minimums;
    qint64 least = 0;
    for (int m : minimums)
        least += m;
    if (n == 0 || least >= total)
        return widths;
    // Columns whose share would be below their minimum keep the minimum; the
    // rest share what remains, until no share falls below a minimum.
    QList<bool> pinned(n, false);
    for (bool changed = true; changed;) {
        changed = false;
        qint64 room = total, weight = 0;
        for (qsizetype i = 0; i < n; ++i) {
            if (pinned[i])
                room -= minimums[i];
            else
                weight += weights[i];
        }
        if (weight <= 0)
            break;
        qint64 given = 0;
        qsizetype last = -1;
        for (qsizetype i = 0; i < n; ++i) {
            if (pinned[i])
                continue;
            widths[i] = int(room * weights[i] / weight);
            if (widths[i] < minimums[i]) {
                pinned[i] = true;
                widths[i] = minimums[i];
                changed = true;
            }
            given += widths[i];
            last = i;
        }
        if (!changed && last >= 0)
            widths[last] += int(room - given);  // the rounding
    }
    return widths;
}

}  // namespace res
