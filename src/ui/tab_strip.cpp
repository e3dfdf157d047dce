#include "ui/tab_strip.h"

#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>

#include <algorithm>

#include "console/control_table.h"

namespace kalvor {

StripTabs::StripTabs(QWidget* parent) : QTabBar(parent), m_maxHeight(DialogUnitsToPixelsY(10)) {
    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
}

void StripTabs::SetMaxHeight(int pixels) {
    if (pixels == m_maxHeight) return;
    m_maxHeight = pixels;
    updateGeometry();  // the window's font or style changes with it, and the bar measures its tabs again
}

QSize StripTabs::tabSizeHint(int index) const {
    QSize size = QTabBar::tabSizeHint(index);
    size.setHeight(std::min(size.height(), m_maxHeight));
    return size;
}

void PageFrame::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    option.shape = QTabBar::RoundedNorth;
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
}

}  // namespace kalvor
