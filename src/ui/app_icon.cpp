#include "ui/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace kalvor {

namespace {

QPen Outline(const char* color, qreal width) {
    QPen pen{QColor(QLatin1String(color)), width};
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

}  // namespace

QPixmap DrawAppIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);  // drawn on the 256 × 256 grid of the installed icon

    // The housing.
    QLinearGradient housing(0, 16, 0, 166);
    housing.setColorAt(0, QColor(0x54, 0x6e, 0x7a));
    housing.setColorAt(1, QColor(0x26, 0x32, 0x38));
    p.setPen(Outline("#1c262b", 6));
    p.setBrush(housing);
    p.drawRoundedRect(QRectF(20, 16, 216, 150), 20, 20);

    // Two cassettes with their handles.
    p.setPen(Outline("#1c262b", 4));
    p.setBrush(QColor(0x90, 0xa4, 0xae));
    p.drawRoundedRect(QRectF(40, 34, 120, 34), 6, 6);
    p.drawRoundedRect(QRectF(40, 78, 120, 34), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x37, 0x47, 0x4f));
    p.drawRoundedRect(QRectF(84, 47, 32, 8), 3, 3);
    p.drawRoundedRect(QRectF(84, 91, 32, 8), 3, 3);

    // The status lamp and the serial connector.
    p.setPen(Outline("#1c262b", 4));
    p.setBrush(QColor(0xff, 0xca, 0x28));
    p.drawEllipse(QPointF(198, 52), 13, 13);
    QPainterPath connector;
    connector.moveTo(178, 86);
    connector.lineTo(218, 86);
    connector.lineTo(212, 108);
    connector.lineTo(184, 108);
    connector.closeSubpath();
    p.setBrush(QColor(0xb0, 0xbe, 0xc5));
    p.drawPath(connector);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x26, 0x32, 0x38));
    for (qreal x : {190.0, 198.0, 206.0}) p.drawEllipse(QPointF(x, 96), 3, 3);

    // The exit slot, and the note leaving it.
    p.setBrush(QColor(0x10, 0x17, 0x1a));
    p.drawRoundedRect(QRectF(44, 130, 168, 16), 8, 8);
    QLinearGradient note(62, 136, 194, 240);
    note.setColorAt(0, QColor(0xa5, 0xd6, 0xa7));
    note.setColorAt(1, QColor(0x66, 0xbb, 0x6a));
    p.setPen(Outline("#1b5e20", 6));
    p.setBrush(note);
    p.drawRoundedRect(QRectF(62, 136, 132, 104), 6, 6);
    p.setPen(Outline("#2e7d32", 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(74, 150, 108, 76), 4, 4);
    p.setPen(Outline("#2e7d32", 4));
    p.setBrush(QColor(0xe8, 0xf5, 0xe9));
    p.drawEllipse(QPointF(128, 188), 22, 22);
    QPainterPath diamond;
    diamond.moveTo(128, 172);
    diamond.lineTo(142, 188);
    diamond.lineTo(128, 204);
    diamond.lineTo(114, 188);
    diamond.closeSubpath();
    p.setPen(Outline("#1b5e20", 4));
    p.setBrush(QColor(0x66, 0xbb, 0x6a));
    p.drawPath(diamond);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2e, 0x7d, 0x32));
    p.drawEllipse(QPointF(90, 166), 5, 5);
    p.drawEllipse(QPointF(166, 210), 5, 5);
    // The slot's lip over the note.
    p.setBrush(QColor(0x10, 0x17, 0x1a));
    p.drawRoundedRect(QRectF(44, 130, 168, 8), 4, 4);
    return pixmap;
}

QIcon AppIcon() {
    QIcon drawn;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) drawn.addPixmap(DrawAppIcon(size));
    return QIcon::fromTheme(QStringLiteral("kalvor-tp"), drawn);
}

}  // namespace kalvor
