// How the panes fold the console's line breaks and carry the operator's edits back.
#include <gtest/gtest.h>

#include "ui/pane_text.h"

using kalvor::ui::ApplyPaneEdit;
using kalvor::ui::DisplayText;

TEST(PaneText, EveryKindOfLineBreakShowsAsOne) {
    EXPECT_EQ(DisplayText("a\r\nb"), "a\nb");
    EXPECT_EQ(DisplayText("a\n\rb"), "a\nb");
    EXPECT_EQ(DisplayText("a\rb\nc"), "a\nb\nc");
    // Two breaks of the same kind are two lines; a pair followed by a pair is two lines too.
    EXPECT_EQ(DisplayText("a\n\nb"), "a\n\nb");
    EXPECT_EQ(DisplayText("a\n\r\n\rb"), "a\n\nb");
    EXPECT_EQ(DisplayText("a\r\n\r\nb"), "a\n\nb");
    EXPECT_EQ(DisplayText(""), "");
}

TEST(PaneText, PairSplitAcrossAppendsIsOneBreak) {
    // The Status pane's lines end in "\n\r"; the halves may arrive in separate appends.
    char pending = 0;
    std::string shown = DisplayText("STATUS ERR : 00\n", pending);
    shown += DisplayText("\rROM VER", pending);
    EXPECT_EQ(shown, "STATUS ERR : 00\nROM VER");

    pending = 0;
    shown = DisplayText("x\n", pending);
    shown += DisplayText("\n", pending);  // the same half again: a new line
    EXPECT_EQ(shown, "x\n\n");

    pending = 0;
    shown = DisplayText("x\r\n", pending);
    shown += DisplayText("\ry", pending);  // a full pair ended the first piece
    EXPECT_EQ(shown, "x\n\ny");
}

TEST(PaneText, OperatorEditKeepsTheRestByteForByte) {
    const std::string original = "line 1\n\rline 2\r\nline 3";
    const std::string shown = DisplayText(original);
    ASSERT_EQ(shown, "line 1\nline 2\nline 3");

    // A word typed into the second line.
    EXPECT_EQ(ApplyPaneEdit(original, shown, "line 1\nline two 2\nline 3"), "line 1\n\rline two 2\r\nline 3");
    // A new line typed at the end becomes "\r\n".
    EXPECT_EQ(ApplyPaneEdit(original, shown, shown + "\nnote"), original + "\r\nnote");
    // Joining two lines removes their whole pair.
    EXPECT_EQ(ApplyPaneEdit(original, shown, "line 1line 2\nline 3"), "line 1line 2\r\nline 3");
    // Everything selected and replaced.
    EXPECT_EQ(ApplyPaneEdit(original, shown, "x"), "x");
    // Everything deleted.
    EXPECT_EQ(ApplyPaneEdit(original, shown, ""), "");
    // Nothing changed.
    EXPECT_EQ(ApplyPaneEdit(original, shown, shown), original);
}

TEST(PaneText, EditNextToRepeatedTextLandsWhereTyped) {
    // The common beginning and end overlap when a repeated character is doubled; the result
    // must still be the text with one more of it.
    const std::string original = "aa\n\raa";
    const std::string shown = DisplayText(original);
    EXPECT_EQ(ApplyPaneEdit(original, shown, "aaa\naa"), "aaa\n\raa");
    EXPECT_EQ(ApplyPaneEdit(original, shown, "aa\n\naa"), "aa\n\r\r\naa");
}
