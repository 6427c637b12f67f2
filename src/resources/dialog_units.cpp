#include "resources/dialog_units.h"

#include <QApplication>
#include <QFontMetricsF>
#include <cmath>

DialogUnits::DialogUnits(const QFont &font)
{
    const QFontMetricsF fm(font);
    // The average width of the Latin letters, as the Windows dialog manager measures it.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseWidth = std::round(fm.horizontalAdvance(letters) / 26.0) / 2.0;
    m_baseHeight = std::ceil(fm.height());
    if (m_baseWidth < 1.0)
        m_baseWidth = 1.0;
    if (m_baseHeight < 1.0)
        m_baseHeight = 1.0;
}

QRect DialogUnits::toPixels(int x, int y, int w, int h) const
{
    const auto px = [](double units, double base, int div) { return int(std::lround(units * base / div)); };
    const int left = px(x, m_baseWidth, 4);
    const int top = px(y, m_baseHeight, 8);
    const int right = px(x + w, m_baseWidth, 4);
    const int bottom = px(y + h, m_baseHeight, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnits::toPixels(int w, int h) const
{
    return toPixels(0, 0, w, h).size();
}

QFont DialogUnits::dialogFont(int pointSize)
{
    QFont f = QApplication::font();
    f.setPointSize(pointSize);
    return f;
}
