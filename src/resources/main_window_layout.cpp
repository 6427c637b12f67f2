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
    case IDC_IMAGE_LIST:
        r.setSize(r.size() + QSize(dx, dy));
        return r;
    case IDC_FILE_PATH:
    case IDC_WORK_DIR:
    case IDC_PROGRESS:
        r.translate(0, dy);
        r.setWidth(r.width() + dx);
        return r;
    case IDC_PERCENT:
        r.translate(dx, dy);
        return r;
    default:
        // Every other control sits below the list.
        r.translate(0, dy);
        return r;
    }
}

}  // namespace res
