// How big the window is drawn: dialog units come from the desktop's font as the original
// platform made them (the average width of the letters / 4 across, the font's height / 8 down),
// and every pixel of the control table (laid out for a font 7 px wide on average and 14 px high,
// 7/4 px per unit across and 9/5 down) is scaled by the same factor.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "console/control_table.h"

namespace kalvor {

class DialogScale {
public:
    // The average width and height the control table was laid out for.
    static constexpr int kReferenceCharWidth = 7;
    static constexpr int kReferenceHeight = 14;

    DialogScale() = default;
    DialogScale(double x, double y) : m_x(x), m_y(y) {}
    // The scale the desktop's `font` gives.
    static DialogScale FromFont(const QFont& font);

    double X() const { return m_x; }
    double Y() const { return m_y; }
    // Both factors times `k` (to fit a small screen).
    DialogScale Times(double k) const { return {m_x * k, m_y * k}; }

    // A length of the table in window pixels.
    int MapX(int px) const;
    int MapY(int px) const;
    // A rectangle of the table in window pixels: its edges are scaled, so controls that meet in
    // the table still meet in the window.
    QRect Map(const Rect& r) const;
    // The client area for a client of `du` dialog units.
    QSize Client(int widthDu, int heightDu) const;
    // The controls' font at this scale: 10 px at the reference scale, narrow enough that every
    // caption fits its template place.
    QFont ControlFont() const;

private:
    double m_x = 1, m_y = 1;
};

}  // namespace kalvor
