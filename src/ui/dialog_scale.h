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
    // The factor the style's own sizes (indicators, margins, tab padding) are scaled by: the
    // smaller one, as for the font.
    double Factor() const { return m_x < m_y ? m_x : m_y; }

    // The smallest scale the window is shrunk to, in device pixels per pixel of the table: a
    // control font of 8 device pixels. Below it the window keeps it and scrolls.
    static constexpr double kReadable = 0.8;
    // This scale shrunk as one until a client of `widthDu` x `heightDu` dialog units fits `room`
    // (logical pixels on a screen of `devicePixelRatio`), but never below kReadable unless this
    // scale is below it already; never enlarged.
    DialogScale FitInto(QSize room, int widthDu, int heightDu, double devicePixelRatio) const;

    // A length of the table in window pixels.
    int MapX(int px) const;
    int MapY(int px) const;
    // A rectangle of the table in window pixels: its edges are scaled, so controls that meet in
    // the table still meet in the window.
    QRect Map(const Rect& r) const;
    // The client area for a client of `du` dialog units.
    QSize Client(int widthDu, int heightDu) const;
    // The controls' font at this scale: 10 px at the reference scale, narrow enough that every
    // caption fits its template place. Its size is a whole number of device pixels on a screen of
    // `devicePixelRatio` (a fraction of a logical pixel when that is above 1), `logicalDpi` being
    // the screen's logical dots per inch.
    QFont ControlFont(double devicePixelRatio = 1, double logicalDpi = 96) const;

private:
    double m_x = 1, m_y = 1;
};

}  // namespace kalvor
