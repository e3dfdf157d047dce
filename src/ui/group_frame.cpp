#include "ui/group_frame.h"

#include <QPainter>
#include <qdrawutil.h>

namespace kalvor {

namespace {
// Room left of the title and each side of its text, in average character widths and pixels.
constexpr int kTitlePad = 2;
}  // namespace

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GroupFrame::SetTitle(const QString& title) {
    if (title == m_title) return;
    m_title = title;
    update();
}

QRect GroupFrame::TitleRect() const {
    if (m_title.isEmpty()) return QRect();
    const QFontMetrics fm = fontMetrics();
    const int left = fm.averageCharWidth();
    return QRect(left, 0, fm.horizontalAdvance(m_title) + 2 * kTitlePad, fm.height());
}

QRect GroupFrame::FrameRect() const {
    const int top = fontMetrics().height() / 2;
    return QRect(0, top, width(), height() - top);
}

void GroupFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // An etched line, a dark one with a light one inside it, as dialogs draw group boxes.
    qDrawShadeRect(&painter, FrameRect(), palette(), true, 1, 0);
    const QRect title = TitleRect();
    if (title.isNull()) return;
    // The title stands on the window's background, interrupting the top line.
    painter.fillRect(title, palette().brush(QPalette::Window));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(title.adjusted(kTitlePad, 0, -kTitlePad, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     m_title);
}

}  // namespace kalvor
