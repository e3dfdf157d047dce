// Where the console's window puts things: every control at its table rectangle times the window's
// scale, the tab strip's tabs and frame, and the window itself fitted to its screen. When the
// dialog at the desktop's scale does not fit the screen's available area, the whole dialog is
// drawn smaller as one - the font, the rectangles and the style's own sizes (check and radio
// indicators, margins, tab padding) - down to a readable least; below that the window keeps it
// and scrolls.
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "console/console_dlg.h"
#include "ui/console_window.h"
#include "ui/scaled_style.h"
#include "ui/tab_strip.h"

namespace kalvor {

namespace {

// A static draws its text in its first line, as a static control does; that line is as tall as
// a row of controls (12 dialog units), and the text stands in its middle, level with the edits
// and buttons beside it.
void PlaceStatic(QWidget* label, const QRect& r, int row) {
    label->setGeometry(r);
    label->setContentsMargins(0, 0, 0, std::max(0, r.height() - row));
}

}  // namespace

void ConsoleWindow::PlaceTabStrip(const Rect& r) {
    // The tabs stand on the top edge of the strip's rectangle, the frame of the pages below them,
    // as a tab widget draws them.
    const int tabHeight = m_tabBar->sizeHint().height();
    const int overlap = m_tabBar->style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, m_tabBar);
    const QRect s = m_scale.Map(r);
    const int inset = m_scale.MapX(2);
    m_tabBar->setGeometry(s.x() + inset, s.y(), std::max(0, s.width() - 2 * inset), tabHeight);
    m_tabPanel->setGeometry(s.x(), s.y() + tabHeight - overlap, s.width(),
                            std::max(0, s.height() - tabHeight + overlap));
}

void ConsoleWindow::Place(const Control& c) {
    QWidget* w = Widget(c.id);
    if (w == nullptr) return;
    if (c.kind == ControlKind::TabStrip)
        PlaceTabStrip(c.rect);
    else if (c.kind == ControlKind::Static)
        PlaceStatic(w, m_scale.Map(c.rect), m_scale.MapY(DialogUnitsToPixelsY(12)));
    else
        w->setGeometry(m_scale.Map(c.rect));
}

void ConsoleWindow::SetScale(const DialogScale& scale) {
    m_scale = scale;
    // A style of its own for this scale; the one before goes once no widget uses it.
    std::unique_ptr<ScaledStyle> previous = std::move(m_style);
    m_style = std::make_unique<ScaledStyle>(m_scale.Factor());
    if (auto* tabs = static_cast<StripTabs*>(m_tabBar)) tabs->SetMaxHeight(m_scale.MapY(DialogUnitsToPixelsY(10)));
    setStyle(m_style.get());
    for (QWidget* w : findChildren<QWidget*>()) w->setStyle(m_style.get());
    const double ratio = devicePixelRatioF();
    m_canvas->setFont(m_scale.ControlFont(ratio, logicalDpiY()));
    m_canvas->setFixedSize(ClientSize());
    setFixedSize(ClientSize());
    m_footnote->setGeometry(m_scale.Map(DialogUnitsToPixels(20, 312, 175, 12)));
    for (const Control& c : m_table.All()) Place(c);
}

bool ConsoleWindow::Scrolls() const {
    return m_scroll->viewport()->width() < m_canvas->width() || m_scroll->viewport()->height() < m_canvas->height();
}

void ConsoleWindow::FitToScreen() {
    const QScreen* s = screen();
    if (s == nullptr) return;
    if (!m_screenWatched && windowHandle() != nullptr) {
        // Moved to another screen (another size, another scale factor): fit again there.
        m_screenWatched = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { QTimer::singleShot(0, this, [this] { FitToScreen(); }); });
    }
    // The scale the desktop's font asks for, reduced until the window and the window manager's
    // frame around it fit the screen's available area, but kept readable.
    const DialogScale wanted = DialogScale::FromFont(QApplication::font());
    const QRect avail = s->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    m_fittedFrame = frame;
    const QSize room = avail.size() - frame;
    const DialogScale fitted = wanted.FitInto(room, kDialogWidthDu, kDialogHeightDu, s->devicePixelRatio());
    if (fitted.X() != m_scale.X() || fitted.Y() != m_scale.Y() ||
        !qFuzzyCompare(m_style->Factor(), fitted.Factor()) || m_canvas->font() != fitted.ControlFont(s->devicePixelRatio(), logicalDpiY()))
        SetScale(fitted);
    // Still too big at the readable least: the window takes the room there is and scrolls.
    const QSize client = ClientSize();
    QSize size = client;
    if (client.width() > room.width() || client.height() > room.height()) {
        const int bar = m_style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_scroll);
        size = QSize(std::min(room.width(), client.width() + (client.height() > room.height() ? bar : 0)),
                     std::min(room.height(), client.height() + (client.width() > room.width() ? bar : 0)));
        size = size.expandedTo(QSize(1, 1));
    }
    if (size != this->size()) setFixedSize(size);
    // And it lies inside that area, its title bar first when it is still too tall.
    const QRect outer = frameGeometry();
    if (isVisible() && !avail.contains(outer)) {
        const int x = std::clamp(outer.x(), avail.left(), std::max(avail.left(), avail.right() + 1 - outer.width()));
        const int y = std::clamp(outer.y(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - outer.height()));
        move(x, y);
    }
}

void ConsoleWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Once the window manager has framed the window.
    QTimer::singleShot(0, this, [this] { FitToScreen(); });
}

void ConsoleWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The window manager framed the window (or framed it anew): fit again with that frame.
    if (isVisible() && frameGeometry().size() - geometry().size() != m_fittedFrame)
        QTimer::singleShot(0, this, [this] { FitToScreen(); });
}

bool ConsoleWindow::event(QEvent* event) {
    // The desktop's font changed: the dialog units change with it.
    if (event->type() == QEvent::ApplicationFontChange) QTimer::singleShot(0, this, [this] { FitToScreen(); });
    // The scroll area fills the window.
    if (event->type() == QEvent::Resize && m_scroll != nullptr) m_scroll->setGeometry(rect());
    return QWidget::event(event);
}

}  // namespace kalvor
