#pragma once

#include <QFont>
#include <QRect>

// Turns dialog-template units into pixels from the dialog font's metrics:
// a horizontal unit is a quarter of the average character width, a vertical
// unit an eighth of the character height.
class DialogUnits
{
public:
    explicit DialogUnits(const QFont &font);

    QRect toPixels(int x, int y, int w, int h) const;
    QSize toPixels(int w, int h) const;

    double baseWidth() const { return m_baseWidth; }
    double baseHeight() const { return m_baseHeight; }

    // The dialog font for a template's point size.
    static QFont dialogFont(int pointSize);

private:
    double m_baseWidth;
    double m_baseHeight;
};
