// A pane's view in the window: the newest lines of the pane, kept in step with the pane's appends
// and with the lines the pane drops at its own limit.
#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include "gui_support.h"
#include "protocol/pane_log.h"
#include "ui/console_window.h"
#include "ui/pane_text.h"

using namespace kalvor;
using namespace kalvor::guitest;

TEST(WindowPanes, TheViewShowsTheNewestLinesOfThePaneThroughBothLimits) {
    Console c;
    ASSERT_TRUE(c.prepared);
    auto* pane = c.as<QPlainTextEdit>(1004);
    // Every kind of line break, about 4.5 MiB in all: past the view's line limit early, past the
    // pane's byte limit at the end.
    std::string chunk;
    const char* const breaks[] = {"\r\n", "\r", "\n"};
    for (int i = 0; i < 1000; ++i)
        chunk += "line " + std::to_string(i) + std::string(80 + i % 3 * 10, '-') + breaks[i % 3];
    size_t total = c.table().Text(1004).size();
    bool dropped = false;
    for (int step = 0; step < 80 && !dropped; ++step) {
        const std::string piece = chunk + std::to_string(step);
        c.dlg().AppendStatus(piece);
        QApplication::processEvents();
        total += piece.size() + 2;
        const std::string& text = c.table().Text(1004);
        dropped = text.size() < total;
        const std::string all = ui::DisplayText(text);
        const QByteArray shownBytes = pane->toPlainText().toLatin1();
        const std::string_view shown(shownBytes.constData(), static_cast<size_t>(shownBytes.size()));
        const int blocks = pane->document()->blockCount();
        ASSERT_TRUE(std::string_view(all).ends_with(shown)) << "step " << step;
        ASSERT_TRUE(shown.size() == all.size() || all[all.size() - shown.size() - 1] == '\n') << "step " << step;
        ASSERT_LE(blocks, ConsoleWindow::kPaneViewLines + ConsoleWindow::kPaneViewLines / 8 + 1);
        ASSERT_GE(blocks, std::min<int>(ConsoleWindow::kPaneViewLines, static_cast<int>(ui::DisplayLineBreaks(text)) + 1));
        ASSERT_LE(text.size(), PaneLog::kDefaultLimit);
    }
    EXPECT_TRUE(dropped) << "the pane never reached its limit";

    // Typed at the end of the view: the pane keeps everything before the view as it was.
    const std::string before = c.table().Text(1004);
    pane->setFocus();
    pane->moveCursor(QTextCursor::End);
    QTest::keyClicks(pane, QStringLiteral("x"));
    EXPECT_EQ(c.table().Text(1004), before + "x");
    c.dlg().AppendStatus("next");
    QApplication::processEvents();
    EXPECT_EQ(c.table().Text(1004), before + "xnext\n\r");
    EXPECT_TRUE(pane->toPlainText().endsWith(QStringLiteral("xnext\n")));
}
