// The style the console's window draws its controls with: the application's style, with every
// size it gives in pixels (check and radio indicators, the room beside them, button margins, tab
// padding, frames, scroll bars) times the window's scale, so that a dialog drawn smaller or
// larger than its template keeps the proportions of its template: an indicator stays inside its
// control and leaves the caption its room.
#pragma once

#include <QProxyStyle>

namespace kalvor {

class ScaledStyle final : public QProxyStyle {
    Q_OBJECT

public:
    // `factor`: the window's scale (1 at the template's own size).
    explicit ScaledStyle(double factor);

    double Factor() const { return m_factor; }

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;

private:
    double m_factor;
};

}  // namespace kalvor
