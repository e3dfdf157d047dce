#include "ui/console_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

#include "console/console_dlg.h"
#include "ui/app_icon.h"
#include "ui/group_frame.h"
#include "protocol/pane_log.h"
#include "ui/pane_text.h"

namespace kalvor {

namespace {

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

std::string Bytes(const QString& s) {
    // One byte per character, as the console keeps its texts; what Latin-1 cannot hold becomes '?'.
    const QByteArray b = s.toLatin1();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

// The body of the tab strip: the frame a tab widget draws around its pages.
class PageFrame final : public QWidget {
public:
    explicit PageFrame(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        QStyleOptionTabWidgetFrame option;
        option.initFrom(this);
        option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        option.shape = QTabBar::RoundedNorth;
        painter.drawPrimitive(QStyle::PE_FrameTabWidget, option);
    }
};

// The tabs of the strip: no taller than the strip's top margin in the template (10 dialog units),
// so that the first row of a page (the "Select" group of "MENU" starts there) stays clear of them.
class StripTabs final : public QTabBar {
public:
    using QTabBar::QTabBar;
    int maxHeight = DialogUnitsToPixelsY(10);

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        size.setHeight(std::min(size.height(), maxHeight));
        return size;
    }
};

// A static draws its text in its first line, as a static control does; that line is as tall as
// a row of controls (12 dialog units), and the text stands in its middle, level with the edits
// and buttons beside it.
void PlaceStatic(QWidget* label, const QRect& r, int row) {
    label->setGeometry(r);
    label->setContentsMargins(0, 0, 0, std::max(0, r.height() - row));
}

// Every record a page can show is a direct child of the window; these kinds sit behind the others.
bool IsBackdrop(ControlKind kind) { return kind == ControlKind::GroupBox || kind == ControlKind::TabStrip; }

const int kComRadios[] = {1006, 1007, 1008, 1009};

}  // namespace

void ConsoleWindow::SetTraceToggle(std::function<std::string()> toggle) { m_traceToggle = std::move(toggle); }

void ConsoleWindow::ShowFootnote(const std::string& text) {
    m_footnote->setText(QString::fromStdString(text));
    m_footnote->setToolTip(QString::fromStdString(text));
    m_footnote->setVisible(!text.empty());
}

ConsoleWindow::ConsoleWindow(CConsoleDlg& dlg, QWidget* parent)
    : QWidget(parent), m_dlg(dlg), m_table(dlg.Controls()) {
    // A fixed-size dialog: a close box and minimize, no maximize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(AppIcon());
    m_scale = DialogScale::FromFont(QApplication::font());
    // The sensor and status boxes are disabled because they are outputs; they must still read
    // well, so disabled captions are a darker grey than the style's own.
    QPalette palette = this->palette();
    const QColor disabledText(0x78, 0x78, 0x78);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    setPalette(palette);
    m_footnote = new QLabel(this);
    m_footnote->hide();
    auto* trace = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(trace, &QShortcut::activated, this, [this] {
        if (m_traceToggle) ShowFootnote(m_traceToggle());
    });

    for (const Control& c : m_table.All()) {
        QWidget* w = MakeWidget(c);
        if (w == nullptr) continue;
        m_widgets[c.id] = w;
        if (c.kind != ControlKind::TabStrip) {
            w->setVisible(c.visible);
            w->setEnabled(c.enabled);
        }
    }
    SetScale(m_scale);
    FitToScreen();
    ChainFocus();
    // Stacking as in a dialog: an earlier control of the template lies on top of a later one
    // where the two meet. Group boxes go behind the radios they frame, and the tab strip's body
    // behind everything.
    for (auto it = m_table.All().rbegin(); it != m_table.All().rend(); ++it)
        if (QWidget* w = Widget(it->id)) w->raise();
    for (const Control& c : m_table.All())
        if (c.kind == ControlKind::GroupBox) m_widgets[c.id]->lower();
    if (m_tabPanel != nullptr) m_tabPanel->lower();

    SyncTabs();
    SyncChecks();
    RefreshPortTips();
    m_table.SetObserver(this);
}

ConsoleWindow::~ConsoleWindow() { m_table.SetObserver(nullptr); }

QWidget* ConsoleWindow::Widget(int id) const {
    auto it = m_widgets.find(id);
    return it == m_widgets.end() ? nullptr : it->second;
}

QWidget* ConsoleWindow::MakeWidget(const Control& c) {
    const int id = c.id;
    const QString text = Latin1(c.text);
    switch (c.kind) {
    case ControlKind::Button: {
        auto* b = new QPushButton(text, this);
        b->setDefault((c.style & kStyleDefaultButton) != 0);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, id] { UserClicked(id); });
        return b;
    }
    case ControlKind::CheckBox: {
        auto* b = new QCheckBox(text, this);
        connect(b, &QCheckBox::clicked, this, [this, id] { UserClicked(id); });
        return b;
    }
    case ControlKind::Radio: {
        // The table groups the radios; Qt's own grouping would fight it.
        auto* b = new QRadioButton(text, this);
        b->setAutoExclusive(false);
        connect(b, &QRadioButton::clicked, this, [this, id] { UserClicked(id); });
        return b;
    }
    case ControlKind::Edit: {
        const bool right = (c.style & kStyleRightAlign) != 0;
        if ((c.style & kStyleMultiLine) != 0) {
            auto* e = new QPlainTextEdit(this);
            e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            e->document()->setUndoRedoEnabled(false);  // the panes only grow; no undo history to keep
            if (right) {
                QTextOption option = e->document()->defaultTextOption();
                option.setAlignment(Qt::AlignRight);
                e->document()->setDefaultTextOption(option);
            }
            Pane& pane = m_panes[id];
            pane.edit = e;
            ShowWholePane(pane, c.text);
            connect(e, &QPlainTextEdit::textChanged, this, [this, id] { UserEditedPane(id); });
            return e;
        }
        auto* e = new QLineEdit(text, this);
        if (right) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        connect(e, &QLineEdit::textEdited, this,
                [this, id](const QString& typed) { m_table.UserSetText(id, Bytes(typed)); });
        return e;
    }
    case ControlKind::Static: {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    }
    case ControlKind::GroupBox:
        return new GroupFrame(text, this);
    case ControlKind::TabStrip: {
        m_tabPanel = new PageFrame(this);
        m_tabBar = new StripTabs(this);
        m_tabBar->setDrawBase(false);
        m_tabBar->setExpanding(false);
        m_tabBar->setUsesScrollButtons(false);
        connect(m_tabBar, &QTabBar::currentChanged, this, [this](int index) { UserChangedTab(index); });
        m_tabPanel->setVisible(c.visible);
        m_tabBar->setVisible(c.visible);
        return m_tabBar;
    }
    }
    return nullptr;
}

void ConsoleWindow::PlaceTabStrip(const Rect& r) {
    // The tabs stand on the top edge of the strip's rectangle, the frame of the pages below them,
    // as a tab widget draws them.
    const int tabHeight = m_tabBar->sizeHint().height();
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, m_tabBar);
    const QRect s = m_scale.Map(r);
    m_tabBar->setGeometry(s.x() + 2, s.y(), std::max(0, s.width() - 4), tabHeight);
    m_tabPanel->setGeometry(s.x(), s.y() + tabHeight - overlap, s.width(),
                            std::max(0, s.height() - tabHeight + overlap));
}

void ConsoleWindow::SyncTabs() {
    if (m_tabBar == nullptr) return;
    const bool wasSyncing = m_syncing;
    m_syncing = true;
    const std::vector<std::string>& tabs = m_table.Tabs();
    bool same = m_tabBar->count() == static_cast<int>(tabs.size());
    for (int i = 0; same && i < m_tabBar->count(); ++i) same = m_tabBar->tabText(i) == Latin1(tabs[i]);
    if (!same) {
        while (m_tabBar->count() > 0) m_tabBar->removeTab(0);
        for (const std::string& caption : tabs) m_tabBar->addTab(Latin1(caption));
        if (const Control* strip = m_table.Find(1005)) PlaceTabStrip(strip->rect);
    }
    if (m_tabBar->currentIndex() != m_table.TabSelection()) m_tabBar->setCurrentIndex(m_table.TabSelection());
    m_syncing = wasSyncing;
}

void ConsoleWindow::SyncChecks() {
    const bool wasSyncing = m_syncing;
    m_syncing = true;
    for (const Control& c : m_table.All()) {
        if (c.kind != ControlKind::CheckBox && c.kind != ControlKind::Radio) continue;
        auto* b = static_cast<QAbstractButton*>(Widget(c.id));
        if (b != nullptr && b->isChecked() != (c.checked != 0)) b->setChecked(c.checked != 0);
    }
    m_syncing = wasSyncing;
}

void ConsoleWindow::SetWidgetText(const Control& c) {
    QWidget* w = Widget(c.id);
    if (w == nullptr) return;
    const QString text = Latin1(c.text);
    auto pane = m_panes.find(c.id);
    if (pane != m_panes.end()) {
        ShowWholePane(pane->second, c.text);
        return;
    }
    switch (c.kind) {
    case ControlKind::Button:
    case ControlKind::CheckBox:
    case ControlKind::Radio: static_cast<QAbstractButton*>(w)->setText(text); break;
    case ControlKind::Edit: {
        auto* e = static_cast<QLineEdit*>(w);
        if (e->text() != text) e->setText(text);
        break;
    }
    case ControlKind::Static: static_cast<QLabel*>(w)->setText(text); break;
    case ControlKind::GroupBox: static_cast<GroupFrame*>(w)->SetTitle(text); break;
    case ControlKind::TabStrip: break;
    }
}

namespace {

void ScrollToEnd(QPlainTextEdit* edit) {
    QScrollBar* bar = edit->verticalScrollBar();
    bar->setValue(bar->maximum());
}

// Takes the first `count` lines (blocks) out of the document.
void RemoveFirstLines(QPlainTextEdit* edit, size_t count) {
    if (count == 0) return;
    QTextDocument* doc = edit->document();
    QTextCursor cursor(doc);
    const QTextBlock first = count < static_cast<size_t>(doc->blockCount())
                                 ? doc->findBlockByNumber(static_cast<int>(count))
                                 : QTextBlock();
    if (first.isValid())
        cursor.setPosition(first.position(), QTextCursor::KeepAnchor);
    else
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

}  // namespace

void ConsoleWindow::ShowWholePane(Pane& pane, const std::string& text) {
    pane.viewStart = 0;
    pane.pendingBreak = 0;
    // Only the lines the view keeps are laid out.
    const size_t lines = ui::DisplayLineBreaks(text);
    if (lines > static_cast<size_t>(kPaneViewLines))
        pane.viewStart = ui::SkipDisplayLines(text, lines - static_cast<size_t>(kPaneViewLines));
    pane.edit->setPlainText(Latin1(ui::DisplayText(std::string_view(text).substr(pane.viewStart), pane.pendingBreak)));
    pane.shownEnd = text.size();
    ScrollToEnd(pane.edit);
}

void ConsoleWindow::QueueFlush(int id, Pane& pane) {
    if (pane.flushQueued) return;
    pane.flushQueued = true;
    QMetaObject::invokeMethod(this, [this, id] { FlushPane(id); }, Qt::QueuedConnection);
}

void ConsoleWindow::FlushPane(int id) {
    Pane& pane = m_panes[id];
    pane.flushQueued = false;
    const std::string& text = m_table.Text(id);
    if (pane.shownEnd >= text.size()) return;
    // Only the new tail goes into the document: re-setting a long log would lay it out again.
    const std::string shown = ui::DisplayText(std::string_view(text).substr(pane.shownEnd), pane.pendingBreak);
    pane.shownEnd = text.size();
    if (shown.empty()) return;
    const bool wasSyncing = m_syncing;
    m_syncing = true;
    QTextCursor cursor(pane.edit->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(Latin1(shown));
    LimitPaneView(pane, text);
    ScrollToEnd(pane.edit);
    m_syncing = wasSyncing;
}

void ConsoleWindow::LimitPaneView(Pane& pane, const std::string& text) {
    // Lines go out in batches of an eighth of the view, not one with every line that comes.
    const size_t blocks = static_cast<size_t>(pane.edit->document()->blockCount());
    constexpr size_t kMost = kPaneViewLines + kPaneViewLines / 8;
    if (blocks <= kMost) return;
    const size_t drop = blocks - kPaneViewLines;
    RemoveFirstLines(pane.edit, drop);
    pane.viewStart += ui::SkipDisplayLines(std::string_view(text).substr(pane.viewStart), drop);
}

void ConsoleWindow::DropFromPane(Pane& pane, const std::string& text, std::string_view dropped) {
    // `dropped` is the front of `text`, about to go; the pane drops only whole lines (but for
    // one line longer than all it keeps, cut inside).
    const size_t d = dropped.size();
    if (d <= pane.viewStart) {
        pane.viewStart -= d;
        pane.shownEnd -= d;
    } else if (d >= pane.shownEnd || !IsLineBreak(dropped.back())) {
        // Everything shown goes, or a cut inside a line: show what stays, whole.
        ShowWholePane(pane, text.substr(d));
    } else {
        RemoveFirstLines(pane.edit, ui::DisplayLineBreaks(dropped.substr(pane.viewStart)));
        pane.viewStart = 0;
        pane.shownEnd -= d;
    }
}

void ConsoleWindow::OnControlChanged(const Control& c, ControlChange change, std::string_view bytes) {
    QWidget* w = Widget(c.id);
    if (w == nullptr) return;
    const bool wasSyncing = m_syncing;
    m_syncing = true;
    switch (change) {
    case ControlChange::Text: SetWidgetText(c); break;
    case ControlChange::TextAppended: {
        auto pane = m_panes.find(c.id);
        if (pane != m_panes.end())
            QueueFlush(c.id, pane->second);
        else
            SetWidgetText(c);
        break;
    }
    case ControlChange::TextDropped: {
        auto pane = m_panes.find(c.id);
        if (pane != m_panes.end()) DropFromPane(pane->second, c.text, bytes);
        break;
    }
    case ControlChange::Checked:
        if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setChecked(c.checked != 0);
        break;
    case ControlChange::Visible:
        if (c.kind == ControlKind::TabStrip) m_tabPanel->setVisible(c.visible);
        w->setVisible(c.visible);
        if (c.visible && std::find(std::begin(kComRadios), std::end(kComRadios), c.id) != std::end(kComRadios))
            RefreshPortTips();
        break;
    case ControlChange::Enabled:
        if (c.kind == ControlKind::TabStrip) m_tabPanel->setEnabled(c.enabled);
        w->setEnabled(c.enabled);
        break;
    case ControlChange::Rect: Place(c); break;
    case ControlChange::Focus:
        // Only when it moves: giving the focus again repaints, and a repaint on "STATUS" asks
        // for the focus again.
        if (focusWidget() != w) w->setFocus(Qt::OtherFocusReason);
        break;
    case ControlChange::Tabs: SyncTabs(); break;
    }
    m_syncing = wasSyncing;
}

void ConsoleWindow::UserClicked(int id) {
    if (m_syncing) return;
    const Control* c = m_table.Find(id);
    if (c == nullptr) return;
    if (c->kind == ControlKind::CheckBox || c->kind == ControlKind::Radio) m_table.UserClick(id);
    m_dlg.OnCommand(id);
    // The widget toggled itself on the click; the table has the last word (a radio stays set).
    SyncChecks();
}

void ConsoleWindow::UserChangedTab(int index) {
    if (m_syncing || index < 0) return;
    m_table.SetTabSelection(index);
    m_dlg.OnSelChangeTab();
}

void ConsoleWindow::UserEditedPane(int id) {
    if (m_syncing) return;
    Pane& pane = m_panes[id];
    // The document shows the text from viewStart to shownEnd; what lies before and after stays.
    const std::string& full = m_table.Text(id);
    const size_t start = std::min(pane.viewStart, full.size());
    const size_t end = std::clamp(pane.shownEnd, start, full.size());
    const std::string shownText = full.substr(start, end - start);
    const std::string now = Bytes(pane.edit->toPlainText());
    const std::string edited = ui::ApplyPaneEdit(shownText, ui::DisplayText(shownText), now);
    std::string text = full.substr(0, start);
    text += edited;
    text += std::string_view(full).substr(end);
    pane.viewStart = start;
    pane.shownEnd = start + edited.size();
    pane.pendingBreak = 0;
    ui::DisplayText(edited, pane.pendingBreak);
    m_table.UserSetText(id, text);
}

void ConsoleWindow::RefreshPortTips() {
    // The device each COM radio stands for, resolved now (environment and profile may change).
    for (int id : kComRadios)
        if (QWidget* w = Widget(id)) w->setToolTip(QString::fromStdString(m_dlg.Comm().ResolvePort(id - 1006 + 1)));
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    if (!m_dlg.Ended()) m_dlg.OnClose();
    event->accept();
}

void ConsoleWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // The dialog's own repaint (shown, uncovered, resized) - not a control repainting itself,
    // which only touches the area under that control.
    QRegion own = event->region();
    for (const auto& [id, w] : m_widgets) {
        const Control* c = m_table.Find(id);
        if (w->isVisible() && c != nullptr && !IsBackdrop(c->kind)) own -= w->geometry();
    }
    if (own.isEmpty() || m_paintQueued) return;
    m_paintQueued = true;
    // After the paint: OnPaint may move the focus, which must not happen inside a paint event.
    QTimer::singleShot(0, this, [this] {
        m_paintQueued = false;
        if (!m_dlg.Ended()) m_dlg.OnPaint();
    });
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
    if (auto* tabs = static_cast<StripTabs*>(m_tabBar)) tabs->maxHeight = m_scale.MapY(DialogUnitsToPixelsY(10));
    setFont(m_scale.ControlFont());
    setFixedSize(ClientSize());
    m_footnote->setGeometry(m_scale.Map(DialogUnitsToPixels(20, 312, 175, 12)));
    for (const Control& c : m_table.All()) Place(c);
}

void ConsoleWindow::FitToScreen() {
    const QScreen* s = screen();
    if (s == nullptr) return;
    // The scale the desktop's font asks for, reduced until the window and the window manager's
    // frame around it fit the screen's available area: every control stays reachable.
    const DialogScale wanted = DialogScale::FromFont(QApplication::font());
    const QRect avail = s->availableGeometry();
    const QSize frame = frameGeometry().size() - geometry().size();
    m_fittedFrame = frame;
    const QSize client = wanted.Client(kDialogWidthDu, kDialogHeightDu);
    const double k = std::min({1.0, static_cast<double>(avail.width() - frame.width()) / client.width(),
                               static_cast<double>(avail.height() - frame.height()) / client.height()});
    const DialogScale fitted = k < 1 ? wanted.Times(std::max(k, 0.1)) : wanted;
    if (fitted.X() != m_scale.X() || fitted.Y() != m_scale.Y()) SetScale(fitted);
    // And it lies inside that area, its title bar first when it is still too tall.
    const QRect outer = frameGeometry();
    if (isVisible() && !avail.contains(outer)) {
        const int x = std::clamp(outer.x(), avail.left(), std::max(avail.left(), avail.right() + 1 - outer.width()));
        const int y = std::clamp(outer.y(), avail.top(), std::max(avail.top(), avail.bottom() + 1 - outer.height()));
        move(x, y);
    }
}

void ConsoleWindow::ChainFocus() {
    // Tab and Shift+Tab go through the controls in the template's order; Qt passes over the
    // hidden and disabled ones. The panes hand Tab on instead of typing it.
    QWidget* previous = nullptr;
    for (const Control& c : m_table.All()) {
        QWidget* w = Widget(c.id);
        if (w == nullptr || w->focusPolicy() == Qt::NoFocus) continue;  // statics and group boxes
        if (auto* pane = qobject_cast<QPlainTextEdit*>(w)) pane->setTabChangesFocus(true);
        if (previous != nullptr) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

QAbstractButton* ConsoleWindow::DefaultButton() const {
    for (const Control& c : m_table.All())
        if (c.kind == ControlKind::Button && (c.style & kStyleDefaultButton) != 0 && c.visible && c.enabled)
            return qobject_cast<QAbstractButton*>(Widget(c.id));
    return nullptr;
}

void ConsoleWindow::keyPressEvent(QKeyEvent* event) {
    // Keys that no control took, as a dialog handles them.
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain) {
        // Enter presses the push button that has the focus, otherwise the page's default button.
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QAbstractButton* button = focused != nullptr ? focused : DefaultButton();
        if (button != nullptr && button->isVisible() && button->isEnabled()) button->click();
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape) {
        // A dialog's Escape presses "Cancel" (2), which this one never shows: nothing happens,
        // and nothing ends without the operator seeing why.
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
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
    return QWidget::event(event);
}

}  // namespace kalvor
