// The window from the keyboard: Tab and Shift+Tab go through every visible, enabled control of
// the page in the template's order and leave the panes.
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <vector>

#include "gui_support.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

bool TakesFocus(const Control& c) {
    return c.visible && c.enabled && c.kind != ControlKind::Static && c.kind != ControlKind::GroupBox;
}

// The control that has the keyboard focus, 0 for none.
int FocusedId(Console& c) {
    QWidget* f = QApplication::focusWidget();
    for (const Control& k : c.table().All())
        if (f != nullptr && c.widget(k.id) == f) return k.id;
    return 0;
}

// Presses Tab (with `modifiers`) `steps` times and returns where the focus went each time.
std::vector<int> Walk(Console& c, Qt::KeyboardModifiers modifiers, size_t steps) {
    std::vector<int> seen;
    for (size_t i = 0; i < steps; ++i) {
        QWidget* f = QApplication::focusWidget();
        if (f == nullptr) break;
        QTest::keyClick(f, Qt::Key_Tab, modifiers);
        seen.push_back(FocusedId(c));
    }
    return seen;
}


}  // namespace

TEST(WindowKeys, TabAndShiftTabFollowTheTemplateOnEveryPage) {
    AppOptions options;
    options.calibration = true;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    c.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&c.window()));
    for (int page = 0; page < 6; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        c.ClickTab(page);
        ASSERT_EQ(c.dlg().CurrentPage(), page);
        std::vector<int> expected;
        for (const Control& k : c.table().All())
            if (TakesFocus(k)) expected.push_back(k.id);
        ASSERT_GE(expected.size(), 5u);  // the tab strip, two panes, "EXIT" and the page's own
        // From the tab strip once round, back to it.
        c.window().TabBar()->setFocus(Qt::TabFocusReason);
        std::vector<int> forward = Walk(c, Qt::NoModifier, expected.size());
        std::vector<int> round(expected.begin() + 1, expected.end());
        round.push_back(expected.front());
        EXPECT_EQ(forward, round);
        // The panes hand Tab on: nothing was typed into them.
        EXPECT_EQ(c.as<QPlainTextEdit>(1003)->toPlainText().count(QLatin1Char('\t')), 0);
        EXPECT_EQ(c.as<QPlainTextEdit>(1004)->toPlainText().count(QLatin1Char('\t')), 0);
        // And backwards.
        std::vector<int> backward = Walk(c, Qt::ShiftModifier, expected.size());
        std::vector<int> reversed(expected.rbegin(), expected.rend());
        EXPECT_EQ(backward, reversed);
    }
}
