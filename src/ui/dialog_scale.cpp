#include "ui/dialog_scale.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace kalvor {

DialogScale DialogScale::FromFont(const QFont& font) {
    const QFontMetrics fm(font);
    // The average width as the original platform rounds it: the 52 letters, halved with rounding.
    const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int average = std::max(1, (letters / 26 + 1) / 2);
    const int height = std::max(1, fm.height());
    return {static_cast<double>(average) / kReferenceCharWidth, static_cast<double>(height) / kReferenceHeight};
}

int DialogScale::MapX(int px) const { return static_cast<int>(std::lround(px * m_x)); }
int DialogScale::MapY(int px) const { return static_cast<int>(std::lround(px * m_y)); }

QRect DialogScale::Map(const Rect& r) const {
    const int left = MapX(r.x), top = MapY(r.y);
    return QRect(left, top, MapX(r.x + r.w) - left, MapY(r.y + r.h) - top);
}

QSize DialogScale::Client(int widthDu, int heightDu) const {
    return QSize(MapX(DialogUnitsToPixelsX(widthDu)), MapY(DialogUnitsToPixelsY(heightDu)));
}

QFont DialogScale::ControlFont() const {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    // The smaller factor: the caption must fit across and down.
    font.setPixelSize(std::max(6, static_cast<int>(std::floor(10 * std::min(m_x, m_y) + 0.25))));
    // Slightly narrow, so the longest captions fit their template places.
    font.setStretch(94);
    return font;
}

}  // namespace kalvor
