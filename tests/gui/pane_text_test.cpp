// How the panes fold the console's line breaks and carry the operator's edits back.
#include <gtest/gtest.h>

#include "ui/pane_text.h"

using kalvor::ui::ApplyPaneEdit;
using kalvor::ui::DisplayText;

TEST(PaneText, EveryKindOfLineBreakShowsAsOneEvenSplitAcrossAppends) {
    EXPECT_EQ(DisplayText("a\r\nb"), "a\nb");
    EXPECT_EQ(DisplayText("a\n\rb"), "a\nb");
    EXPECT_EQ(DisplayText("a\rb\nc"), "a\nb\nc");
    // Two breaks of the same kind are two lines; a pair followed by a pair is two lines too.
    EXPECT_EQ(DisplayText("a\n\nb"), "a\n\nb");
    EXPECT_EQ(DisplayText("a\n\r\n\rb"), "a\n\nb");
    EXPECT_EQ(DisplayText("a\r\n\r\nb"), "a\n\nb");
    EXPECT_EQ(DisplayText(""), "");

    // The Status pane's lines end in "\n\r"; the halves may arrive in separate appends.
    struct Case {
        const char *first, *second, *shown;
    };
    for (const Case& k : {Case{"STATUS ERR : 00\n", "\rROM VER", "STATUS ERR : 00\nROM VER"},
                          Case{"x\n", "\n", "x\n\n"},         // the same half again: a new line
                          Case{"x\r\n", "\ry", "x\n\ny"}}) {  // a full pair ended the first piece
        char pending = 0;
        std::string shown = DisplayText(k.first, pending);
        EXPECT_EQ(shown + DisplayText(k.second, pending), k.shown) << k.first;
    }
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
    EXPECT_EQ(ApplyPaneEdit(original, shown, "x"), "x");  // everything replaced
    EXPECT_EQ(ApplyPaneEdit(original, shown, ""), "");    // everything deleted
    EXPECT_EQ(ApplyPaneEdit(original, shown, shown), original);

    // Next to repeated text the common beginning and end overlap; the edit still lands where typed.
    EXPECT_EQ(ApplyPaneEdit("aa\n\raa", "aa\naa", "aaa\naa"), "aaa\n\raa");
    EXPECT_EQ(ApplyPaneEdit("aa\n\raa", "aa\naa", "aa\n\naa"), "aa\n\r\r\naa");
}
