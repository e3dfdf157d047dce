#include "ui/scaled_style.h"

#include <QApplication>
#include <QStyleFactory>

#include <algorithm>
#include <cmath>

namespace kalvor {

namespace {

// A style of the same kind as the application's (QProxyStyle owns its base).
QStyle* BaseStyle() {
    const QString name = QApplication::style() != nullptr ? QApplication::style()->name() : QString();
    return name.isEmpty() ? nullptr : QStyleFactory::create(name);
}

bool Scales(QStyle::PixelMetric metric) {
    switch (metric) {
    case QStyle::PM_IndicatorWidth:
    case QStyle::PM_IndicatorHeight:
    case QStyle::PM_ExclusiveIndicatorWidth:
    case QStyle::PM_ExclusiveIndicatorHeight:
    case QStyle::PM_CheckBoxLabelSpacing:
    case QStyle::PM_RadioButtonLabelSpacing:
    case QStyle::PM_ButtonMargin:
    case QStyle::PM_ButtonDefaultIndicator:
    case QStyle::PM_ButtonShiftHorizontal:
    case QStyle::PM_ButtonShiftVertical:
    case QStyle::PM_DefaultFrameWidth:
    case QStyle::PM_FocusFrameHMargin:
    case QStyle::PM_FocusFrameVMargin:
    case QStyle::PM_TabBarTabHSpace:
    case QStyle::PM_TabBarTabVSpace:
    case QStyle::PM_TabBarTabShiftHorizontal:
    case QStyle::PM_TabBarTabShiftVertical:
    case QStyle::PM_TabBarTabOverlap:
    case QStyle::PM_TabBarBaseOverlap:
    case QStyle::PM_TabBarBaseHeight:
    case QStyle::PM_ScrollBarExtent:
    case QStyle::PM_ScrollBarSliderMin: return true;
    default: return false;
    }
}

}  // namespace

ScaledStyle::ScaledStyle(double factor) : QProxyStyle(BaseStyle()), m_factor(factor) {}

int ScaledStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    const int base = QProxyStyle::pixelMetric(metric, option, widget);
    if (!Scales(metric) || base <= 0) return base;
    // A line or a room of a pixel or more stays at least a pixel.
    return std::max(1, static_cast<int>(std::lround(base * m_factor)));
}

}  // namespace kalvor
