// The Message and Status panes of the console's window: the newest lines of the table's text,
// the tail appended once per turn of the event loop, lines dropped at the front as the table
// drops them, and the operator's edits written back into the table.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "console/console_dlg.h"
#include "ui/console_window.h"
#include "ui/latin1_text.h"
#include "ui/pane_text.h"
#include "protocol/pane_log.h"

namespace kalvor {

using ui::Bytes;
using ui::Latin1;

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


}  // namespace kalvor
