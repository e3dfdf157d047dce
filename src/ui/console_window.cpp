#include "ui/console_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTabBar>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

#include "console/console_dlg.h"
#include "ui/app_icon.h"
#include "ui/group_frame.h"
#include "ui/latin1_text.h"
#include "ui/scaled_style.h"
#include "ui/tab_strip.h"

namespace kalvor {

using ui::Bytes;
using ui::Latin1;

namespace {

// Every record a page can show is a direct child of the window; these kinds sit behind the others.
bool IsBackdrop(ControlKind kind) { return kind == ControlKind::GroupBox || kind == ControlKind::TabStrip; }

const int kComRadios[] = {1006, 1007, 1008, 1009};

}  // namespace

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
    // The controls lie on a canvas of the dialog's size; the window shows it through a scroll
    // area that scrolls only when the window is smaller than the canvas.
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(false);
    m_canvas = new QWidget;
    m_canvas->installEventFilter(this);
    m_scroll->setWidget(m_canvas);
    m_footnote = new QLabel(m_canvas);
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

ConsoleWindow::~ConsoleWindow() {
    m_table.SetObserver(nullptr);
    // The widgets go before the style they are drawn with.
    delete m_scroll;
    m_scroll = nullptr;
}

QWidget* ConsoleWindow::Widget(int id) const {
    auto it = m_widgets.find(id);
    return it == m_widgets.end() ? nullptr : it->second;
}

QWidget* ConsoleWindow::MakeWidget(const Control& c) {
    const int id = c.id;
    const QString text = Latin1(c.text);
    switch (c.kind) {
    case ControlKind::Button: {
        auto* b = new QPushButton(text, m_canvas);
        b->setDefault((c.style & kStyleDefaultButton) != 0);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, id] { UserClicked(id); });
        return b;
    }
    case ControlKind::CheckBox: {
        auto* b = new QCheckBox(text, m_canvas);
        connect(b, &QCheckBox::clicked, this, [this, id] { UserClicked(id); });
        return b;
    }
    case ControlKind::Radio: {
        // The table groups the radios; Qt's own grouping would fight it.
        auto* b = new QRadioButton(text, m_canvas);
        b->setAutoExclusive(false);
        connect(b, &QRadioButton::clicked, this, [this, id] { UserClicked(id); });
        return b;
    }
    case ControlKind::Edit: {
        const bool right = (c.style & kStyleRightAlign) != 0;
        if ((c.style & kStyleMultiLine) != 0) {
            auto* e = new QPlainTextEdit(m_canvas);
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
        auto* e = new QLineEdit(text, m_canvas);
        if (right) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        connect(e, &QLineEdit::textEdited, this,
                [this, id](const QString& typed) { m_table.UserSetText(id, Bytes(typed)); });
        return e;
    }
    case ControlKind::Static: {
        auto* l = new QLabel(text, m_canvas);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    }
    case ControlKind::GroupBox:
        return new GroupFrame(text, m_canvas);
    case ControlKind::TabStrip: {
        m_tabPanel = new PageFrame(m_canvas);
        m_tabBar = new StripTabs(m_canvas);
        connect(m_tabBar, &QTabBar::currentChanged, this, [this](int index) { UserChangedTab(index); });
        m_tabPanel->setVisible(c.visible);
        m_tabBar->setVisible(c.visible);
        return m_tabBar;
    }
    }
    return nullptr;
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

void ConsoleWindow::RefreshPortTips() {
    // The device each COM radio stands for, resolved now (environment and profile may change).
    for (int id : kComRadios)
        if (QWidget* w = Widget(id)) w->setToolTip(QString::fromStdString(m_dlg.Comm().ResolvePort(id - 1006 + 1)));
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    if (!m_dlg.Ended()) m_dlg.OnClose();
    event->accept();
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_canvas && event->type() == QEvent::Paint) CanvasPainted(static_cast<QPaintEvent*>(event)->region());
    return QWidget::eventFilter(watched, event);
}

void ConsoleWindow::CanvasPainted(const QRegion& region) {
    // The dialog's own repaint (shown, uncovered, resized) - not a control repainting itself,
    // which only touches the area under that control.
    QRegion own = region;
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

}  // namespace kalvor
