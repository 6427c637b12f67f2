#include "resources/app_icon.h"

#include <QPainter>
#include <QPixmap>

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        // A stack of three discs: an archive holding images.
        const QColor colours[] = {QColor(0x2b, 0x6c, 0xb0), QColor(0x3d, 0x8b, 0xd9), QColor(0x6f, 0xb1, 0xf0)};
        for (int i = 0; i < 3; ++i) {
            const QRectF r(s * 0.08, s * (0.46 - 0.17 * i), s * 0.84, s * 0.42);
            p.setPen(QPen(QColor(0x1a, 0x3f, 0x6b), qMax<qreal>(1.0, s / 32)));
            p.setBrush(colours[i]);
            p.drawEllipse(r);
        }
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
