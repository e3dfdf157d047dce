// The page switch: the visible set of every page, the relabelled and moved buttons, the focus,
// the model-dependent enables, the calibration page's defaults, and typed text across switches.
#include <gtest/gtest.h>

#include <set>

#include "console/layout_tables.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

constexpr ConsoleOptions kCalibration{.calibrationTabs = true};

// Visible controls without the panes, their labels, the tab strip and "EXIT".
std::set<int> VisibleSet(const TestConsole& c) {
    std::set<int> s;
    for (const Control& k : c.dlg->Controls().All())
        if (k.visible && k.id > 1 && k.id != 1003 && k.id != 1004 && k.id != 1005) s.insert(k.id);
    return s;
}

std::set<int> Range(int from, int to) {
    std::set<int> s;
    for (int i = from; i <= to; ++i) s.insert(i);
    return s;
}

std::set<int> Join(std::initializer_list<std::set<int>> parts) {
    std::set<int> s;
    for (const auto& p : parts) s.insert(p.begin(), p.end());
    return s;
}

std::set<int> LayoutIds(const ControlLayout* table, size_t n) {
    std::set<int> s;
    for (size_t i = 0; i < n; ++i) s.insert(table[i].id);
    return s;
}

const std::set<int> kStatusPage = Join({Range(1036, 1043), Range(1045, 1049), {1118, 1050}});
const std::set<int> kMenuPage = Join({{1131, 1130, 1133, 1134, 1135, 1026, 1027, 1068, 1033, 1044, 1034, 1035,
                                       1053, 1136, 1129, 1128},
                                      Range(1028, 1032),
                                      {1137, 1072, 1073, 1119, 1120, 1121, 1020, 1022, 1051}});
const std::set<int> kSetupPage = Join({{1011, 1023, 1010, 1127, 1020}, Range(1012, 1014), Range(1016, 1019),
                                       Range(1006, 1009)});
const std::set<int> kTpPage = Join({Range(1054, 1060), {1066, 1123, 1069, 1067, 1124, 1125, 1126}});

const std::set<int>& Expected(int page) {
    static const std::set<int> env = LayoutIds(EnvironmentLayout, std::size(EnvironmentLayout));
    static const std::set<int> notes = LayoutIds(NotesInitLayout, std::size(NotesInitLayout));
    static const std::set<int>* pages[] = {&kStatusPage, &kMenuPage, &kSetupPage, &kTpPage, &env, &notes};
    return *pages[page];
}

const int kFocus[] = {1050, 1020, 1020, 1054, 1099, 1098};

void ExpectPage(const TestConsole& c, int page) {
    SCOPED_TRACE("page " + std::to_string(page));
    EXPECT_EQ(c.dlg->CurrentPage(), page);
    EXPECT_EQ(VisibleSet(c), Expected(page));
    EXPECT_EQ(c.dlg->Controls().Focus(), kFocus[page]);
    // Always there.
    for (int id : {1003, 1004, 1005, 1, kLabelMessage, kLabelStatus}) EXPECT_TRUE(c.dlg->Controls().IsVisible(id)) << id;
    const ControlTable& t = c.dlg->Controls();
    if (page == 1) {
        EXPECT_EQ(t.Text(1020), "DISPENSE");
        EXPECT_EQ(t.Find(1020)->rect, (Rect{360, 50, 70, 25}));
        EXPECT_EQ(t.Text(1022), "Cancel");
        EXPECT_EQ(t.Find(1022)->rect, (Rect{360, 130, 70, 25}));
        EXPECT_EQ(t.Text(1051), "Purge");
        EXPECT_EQ(t.Find(1051)->rect, (Rect{360, 170, 70, 25}));
    }
    if (page == 2) {
        EXPECT_EQ(t.Text(1020), "OK");
        EXPECT_EQ(t.Find(1020)->rect, (Rect{365, 200, 65, 25}));
        EXPECT_EQ(t.Text(1127), "\"Please Press OK Button\"");
    }
    if (page == 4) {
        EXPECT_EQ(t.Text(1098), "Set        ");
        EXPECT_EQ(t.Text(1099), "REQ SEEPROM");
        EXPECT_EQ(t.Text(1100), "REQ AVERAGE");
        EXPECT_EQ(t.Find(1099)->rect, (Rect{310, 150, 110, 30}));
    }
    if (page == 5) {
        EXPECT_EQ(t.Text(1098), "TYPE 1");
        EXPECT_EQ(t.Text(1099), "TYPE 2");
        EXPECT_EQ(t.Text(1100), "TYPE 3");
        EXPECT_EQ(t.Text(1112), "TYPE 4");
        EXPECT_EQ(t.Text(1077), "(75 - 80mm)");
        EXPECT_EQ(t.Find(1112)->rect, (Rect{50, 140, 70, 25}));
    }
}

}  // namespace

TEST(PageSwitch, VisibleSetsCaptionsPlacesAndFocus) {
    TestConsole c(kCalibration);
    ASSERT_EQ(c.controls().Tabs(),
              (std::vector<std::string>{"STATUS", "MENU", "SETUP", "TP", "Set Environmant", "Notes Init"}));
    ExpectPage(c, 0);
    // Every page from every other page: the visible set depends only on the new page.
    for (int from = 0; from < 6; ++from)
        for (int to = 0; to < 6; ++to) {
            if (from == to) continue;
            SCOPED_TRACE("from " + std::to_string(from));
            c.Tab(from);
            c.Tab(to);
            ExpectPage(c, to);
        }
    // Without the option only the four tabs exist.
    TestConsole plain;
    EXPECT_EQ(plain.controls().Tabs(), (std::vector<std::string>{"STATUS", "MENU", "SETUP", "TP"}));
}

TEST(PageSwitch, MenuAndSetupShareButton1020) {
    TestConsole c;
    for (int round = 0; round < 3; ++round) {
        c.Tab(1);
        EXPECT_EQ(c.controls().Text(1020), "DISPENSE");
        EXPECT_EQ(c.controls().Find(1020)->rect, (Rect{360, 50, 70, 25}));
        c.Tab(2);
        EXPECT_EQ(c.controls().Text(1020), "OK");
        EXPECT_EQ(c.controls().Find(1020)->rect, (Rect{365, 200, 65, 25}));
    }
    // The focus comes back to "STATUS" on every repaint of page 0.
    c.Tab(0);
    c.controls().SetFocus(1003);
    c.dlg->OnPaint();
    EXPECT_EQ(c.controls().Focus(), 1050);
}

TEST(PageSwitch, LowerControlsFollowTheModel) {
    TestConsole c;
    c.Tab(1);
    for (int id : {1027, 1044, 1029}) EXPECT_FALSE(c.controls().IsEnabled(id)) << id;
    c.Click(1135);
    for (int id : {1027, 1044, 1029}) EXPECT_TRUE(c.controls().IsEnabled(id)) << id;
    for (int page : {0, 2, 3}) {
        c.Tab(page);
        c.Tab(1);
        for (int id : {1027, 1044, 1029}) EXPECT_TRUE(c.controls().IsEnabled(id)) << id << " after " << page;
    }
    c.Click(1134);
    for (int id : {1027, 1044, 1029}) EXPECT_FALSE(c.controls().IsEnabled(id)) << id;
    c.Tab(3);
    c.Tab(1);
    for (int id : {1027, 1044, 1029}) EXPECT_FALSE(c.controls().IsEnabled(id)) << id;
    // The others stay as the template has them.
    EXPECT_TRUE(c.controls().IsEnabled(1026));
    EXPECT_TRUE(c.controls().IsEnabled(1028));
    EXPECT_FALSE(c.controls().IsEnabled(1031));
}

TEST(PageSwitch, EnvironmentPageStartsEmptyWithDefaultMargins) {
    TestConsole c(kCalibration);
    c.Tab(4);
    for (int id : {1082, 1085, 1086, 1095, 1096, 1097, 1110, 1111, 1113, 1114, 1115, 1116})
        EXPECT_EQ(c.controls().Text(id), "") << id;
    EXPECT_EQ(c.controls().Text(1083), "30");
    EXPECT_EQ(c.controls().Text(1084), "13");

    // Values typed and read back are gone after leaving and re-entering the page.
    c.Type(1082, "500");
    c.Type(1083, "25");
    c.Type(1097, "abc");
    c.host.Deliver({0x06});  // a stray byte in Idle changes nothing
    c.Click(1099);
    c.host.Deliver({0x06});
    c.host.Deliver(ResponseFrame(0x81, {0x36, 0x38, 0x30, 0x34, 0x35, 0x39, 38, 62, 0x30}));
    EXPECT_EQ(c.controls().Text(1085), "680");
    c.Tab(5);
    c.Tab(4);
    for (int id : {1082, 1085, 1086, 1095, 1096, 1097}) EXPECT_EQ(c.controls().Text(id), "") << id;
    EXPECT_EQ(c.controls().Text(1083), "30");
    EXPECT_EQ(c.controls().Text(1084), "13");
}

TEST(PageSwitch, TypedTextSurvivesEverySwitch) {
    TestConsole c(kCalibration);
    c.Tab(1);
    c.Type(1028, "12");
    c.Type(1029, "34");
    c.Type(1030, "7");
    c.Type(1003, "my notes");
    c.Type(1004, "status notes");
    for (int page : {2, 3, 0, 1, 5, 4, 3, 1, 0}) {
        SCOPED_TRACE(page);
        c.Tab(page);
        EXPECT_EQ(c.controls().Text(1028), "12");
        EXPECT_EQ(c.controls().Text(1029), "34");
        EXPECT_EQ(c.controls().Text(1030), "7");
        EXPECT_EQ(c.Message(), "my notes");
        EXPECT_EQ(c.Status(), "status notes");
    }
    // Check states set by the operator survive as well.
    c.Tab(1);
    c.Click(1026);
    c.Click(1068);
    c.Tab(3);
    c.Click(1126);
    for (int page : {0, 2, 1, 3}) c.Tab(page);
    EXPECT_EQ(c.controls().Checked(1026), 1);
    EXPECT_EQ(c.controls().Checked(1068), 1);
    EXPECT_EQ(c.controls().Checked(1126), 1);
    EXPECT_EQ(c.controls().Checked(1125), 0);
}
