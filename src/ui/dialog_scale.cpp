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

DialogScale DialogScale::FitInto(QSize room, int widthDu, int heightDu, double devicePixelRatio) const {
    const QSize client = Client(widthDu, heightDu);
    const double k = std::min({1.0, static_cast<double>(room.width()) / std::max(1, client.width()),
                               static_cast<double>(room.height()) / std::max(1, client.height())});
    const double readable = std::min(1.0, kReadable / (Factor() * std::max(devicePixelRatio, 0.1)));
    const double fitted = std::max(k, readable);
    return fitted < 1 ? Times(fitted) : *this;
}

QFont DialogScale::ControlFont(double devicePixelRatio, double logicalDpi) const {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    // The smaller factor: the caption must fit across and down. Whole device pixels; on a screen
    // of a ratio above 1 that may be a fraction of a logical pixel, given as points.
    const double ratio = std::max(devicePixelRatio, 0.1);
    const double device = std::max(6.0, std::floor(10 * Factor() * ratio + 0.25));
    const double logical = device / ratio;
    if (logical == std::floor(logical))
        font.setPixelSize(static_cast<int>(logical));
    else
        font.setPointSizeF(logical * 72.0 / std::max(logicalDpi, 1.0));
    // Slightly narrow, so the longest captions fit their template places.
    font.setStretch(94);
    return font;
}

}  // namespace kalvor
