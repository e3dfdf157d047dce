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

TEST(PaneText, LinesAreCountedAndSkippedAsTheyAreShown) {
    struct Case {
        const char* text;
        size_t breaks;
        size_t skip1, skip2;  // where display lines 1 and 2 start
    };
    const Case cases[] = {
        {"a\r\nb\n\rc", 2, 3, 6},
        {"a\r\n\rb", 2, 3, 4},     // a pair, then a lone '\r': an empty line between
        {"\n\n", 2, 1, 2},         // the same half twice: two breaks
        {"a\rb\nc", 2, 2, 4},
        {"abc", 0, 3, 3},          // fewer lines than asked: the end
        {"", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ui::DisplayLineBreaks(c.text), c.breaks);
        EXPECT_EQ(ui::SkipDisplayLines(c.text, 1), c.skip1);
        EXPECT_EQ(ui::SkipDisplayLines(c.text, 2), c.skip2);
        EXPECT_EQ(ui::SkipDisplayLines(c.text, 0), 0u);
    }
}

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
