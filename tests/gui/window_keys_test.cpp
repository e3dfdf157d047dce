// The window from the keyboard: Tab and Shift+Tab go through every visible, enabled control of
// the page in the template's order and leave the panes; Enter presses the focused push button,
// else the page's default button; Escape ends nothing.
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
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

// Presses `key` as often as there are controls and returns where the focus went each time.
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

// Records every push button click, whoever makes it.
struct ClickSpy {
    explicit ClickSpy(Console& c) {
        for (const Control& k : c.table().All())
            if (auto* b = k.kind == ControlKind::Button ? c.as<QPushButton>(k.id) : nullptr)
                QObject::connect(b, &QPushButton::clicked, [this, id = k.id] { clicked.push_back(id); });
    }
    std::vector<int> clicked;
};

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

TEST(WindowKeys, EnterPressesTheDefaultOrFocusedButtonAndEscapeEndsNothing) {
    AppOptions options;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(c.dlg().PortOpen());
    c.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&c.window()));
    ClickSpy spy(c);
    c.ClickTab(1);
    c.Click(1026);  // "UPPER": a dispense run can start
    ASSERT_EQ(c.table().Checked(1026), 1);

    struct Case {
        int page;
        int focus;     // the control with the focus (1005: the tab strip)
        int expected;  // the button Enter presses, 0 for none
    };
    const Case cases[] = {
        {1, 1030, 1020},  // "Repeat Count" presses "DISPENSE"
        {1, 1028, 1020},  // "Upper Request Count" too
        {1, 1026, 1020},  // a check box passes Enter on to the default button
        {1, 1051, 1051},  // a focused push button is pressed itself ("Purge")
        {0, 1005, 1050},  // "STATUS" on its page
        {2, 1012, 1020},  // "OK" on "SETUP"
        {3, 1005, 0},     // "TP" has no default button: nothing
        {3, 1003, 0},     // the pane keeps Enter as a line break
    };
    for (const Case& k : cases) {
        SCOPED_TRACE("page " + std::to_string(k.page) + ", focus " + std::to_string(k.focus));
        c.ClickTab(k.page);
        ASSERT_TRUE(WaitFor([&] { return c.dlg().IsIdle(); }));
        if (k.page == 1) {
            c.Type(1028, "1");
            c.Type(1030, "1");
        }
        c.window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&c.window()));
        QWidget* target = k.focus == 1005 ? c.window().TabBar() : c.widget(k.focus);
        target->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), target);
        spy.clicked.clear();
        QTest::keyClick(target, Qt::Key_Return);
        EXPECT_EQ(spy.clicked, k.expected == 0 ? std::vector<int>{} : std::vector<int>{k.expected});
        ASSERT_TRUE(WaitFor([&] { return c.dlg().IsIdle(); }));
    }
    EXPECT_FALSE(c.dlg().Ended());
    EXPECT_EQ(c.table().Text(1032), "1");  // the one-cycle run that Enter in "Repeat Count" started

    // Escape, on every page and in the middle of a run, ends nothing and presses nothing.
    c.ClickTab(1);
    c.Type(1030, "3");
    c.Click(1020);
    for (int page : {1, 0, 2, 3}) {
        c.ClickTab(page);
        spy.clicked.clear();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &c.window(), Qt::Key_Escape);
        EXPECT_TRUE(spy.clicked.empty()) << page;
        EXPECT_FALSE(c.table().IsVisible(2));  // the template's "Cancel" stays hidden
    }
    EXPECT_TRUE(c.window().isVisible());
    EXPECT_FALSE(c.dlg().Ended());
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1032) == "3" && c.dlg().IsIdle(); }, 60000))
        << "executed " << c.table().Text(1032);
    EXPECT_TRUE(c.boxes.Seen().empty()) << c.boxes.Seen().front().text;
}
