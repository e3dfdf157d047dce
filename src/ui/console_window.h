// The console's window: one widget per record of the control table, placed at the record's
// rectangle, kept in step with every change of the table, and writing what the operator types or
// clicks into the table before the dialog's handler runs. The controls lie on a canvas of the
// dialog's size inside a scroll area, which scrolls only when the window cannot be made small
// enough for its screen and stay readable.
//
// console_window.cpp builds the widgets and follows the table; console_window_panes.cpp keeps the
// Message and Status panes; console_window_placement.cpp sizes and places everything at the
// window's scale and fits the window to its screen; console_window_keys.cpp has the keyboard
// (Enter, Escape, the focus chain) and the Ctrl+T trace.
#pragma once

#include <QLabel>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "console/control_table.h"
#include "ui/dialog_scale.h"

class QAbstractButton;
class QPlainTextEdit;
class QScrollArea;
class QTabBar;

namespace kalvor {

class CConsoleDlg;
class ScaledStyle;

class ConsoleWindow final : public QWidget, public ControlObserver {
    Q_OBJECT

public:
    static constexpr int kDialogWidthDu = 274;
    static constexpr int kDialogHeightDu = 333;
    // The dialog's area in logical pixels at the window's scale (Qt applies the screen's scale
    // factor on top): the canvas's size, and the window's unless it scrolls.
    QSize ClientSize() const { return m_scale.Client(kDialogWidthDu, kDialogHeightDu); }
    // The scale the window is drawn at: from the desktop's font, reduced as one (font, controls,
    // the style's indicators and margins) when the window would not fit its screen's available
    // area, but not below DialogScale::kReadable.
    const DialogScale& Scale() const { return m_scale; }
    // Draws the window at `scale` (the fonts, the style, the window's size and every control's
    // place).
    void SetScale(const DialogScale& scale);
    // Fits the window to the screen it is on now: the scale, the size and the place. Done when it
    // is shown, framed, moved to another screen, or the desktop's font changes.
    void FitToScreen();
    // The widget the controls lie on (the dialog's client area), and whether the window scrolls it.
    QWidget* Canvas() const { return m_canvas; }
    bool Scrolls() const;
    // The push button that Enter presses: the template's default button when it is visible and
    // enabled, or nullptr.
    QAbstractButton* DefaultButton() const;
    // The window's caption.
    static constexpr const char* kCaption = "KALVOR TP(V1.02)";

    // Builds the widgets from the dialog's table and observes the table from then on.
    explicit ConsoleWindow(CConsoleDlg& dlg, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    // The widget of control `id` (for 1005 the tab bar), or nullptr.
    QWidget* Widget(int id) const;
    QTabBar* TabBar() const { return m_tabBar; }
    QWidget* TabPanel() const { return m_tabPanel; }

    // Ctrl+T starts and stops the protocol trace: `toggle` does it and returns what the window
    // shows at its foot ("" when the trace is off).
    void SetTraceToggle(std::function<std::string()> toggle);
    // Shows `text` at the window's foot, left of "EXIT" (the trace's file while it runs).
    void ShowFootnote(const std::string& text);

    // A pane shows the newest lines of its text, at most this many (and never more than the
    // pane keeps): a line of the document costs about half a KiB, so the whole 4 MiB of short
    // lines would take hundreds of MB.
    static constexpr int kPaneViewLines = 10000;

    // ControlObserver
    void OnControlChanged(const Control& control, ControlChange change, std::string_view bytes) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::function<std::string()> m_traceToggle;
    QLabel* m_footnote = nullptr;

    // The document shows the table's text from `viewStart` to `shownEnd`, with line breaks folded.
    // What the table gains after `shownEnd` goes into the document once per turn of the event
    // loop, in one piece: a babbling line brings many lines per chunk read.
    struct Pane {
        QPlainTextEdit* edit = nullptr;
        size_t viewStart = 0;     // byte offset in the table's text where the document begins
        size_t shownEnd = 0;      // byte offset in the table's text where the document ends
        char pendingBreak = 0;    // DisplayText state at shownEnd
        bool flushQueued = false; // a FlushPane is on its way
    };

    QWidget* MakeWidget(const Control& c);
    void Place(const Control& c);
    void PlaceTabStrip(const Rect& r);
    void ChainFocus();
    void CanvasPainted(const QRegion& region);
    void SyncTabs();
    void SyncChecks();
    void SetWidgetText(const Control& c);
    void ShowWholePane(Pane& pane, const std::string& text);
    void QueueFlush(int id, Pane& pane);
    void FlushPane(int id);
    void DropFromPane(Pane& pane, const std::string& text, std::string_view dropped);
    void LimitPaneView(Pane& pane, const std::string& text);
    void UserClicked(int id);
    void UserChangedTab(int index);
    void UserEditedPane(int id);
    void RefreshPortTips();

    CConsoleDlg& m_dlg;
    ControlTable& m_table;
    std::map<int, QWidget*> m_widgets;
    std::map<int, Pane> m_panes;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_canvas = nullptr;
    std::unique_ptr<ScaledStyle> m_style;
    QTabBar* m_tabBar = nullptr;
    QWidget* m_tabPanel = nullptr;
    bool m_syncing = false;       // the window itself is changing widgets: no user handlers
    bool m_paintQueued = false;   // an OnPaint is on its way
    DialogScale m_scale;
    QSize m_fittedFrame{-1, -1};  // the window manager's frame the last fit allowed for
    bool m_screenWatched = false; // FitToScreen follows the window's screen
};

}  // namespace kalvor
