// The page switch: visible sets, captions, places, focus, model-dependent enables, kept text.
#include <gtest/gtest.h>

#include <set>

#include "console/layout_tables.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

std::set<int> Ids(std::initializer_list<int> ids, std::initializer_list<std::pair<int, int>> ranges = {}) {
    std::set<int> s(ids);
    for (auto [from, to] : ranges)
        for (int i = from; i <= to; ++i) s.insert(i);
    return s;
}

std::set<int> LayoutIds(const ControlLayout* table, size_t n) {
    std::set<int> s;
    for (size_t i = 0; i < n; ++i) s.insert(table[i].id);
    return s;
}

// Visible controls without the panes, their labels, the tab strip and "EXIT".
const std::set<int> kVisible[] = {
    Ids({1118, 1050}, {{1036, 1043}, {1045, 1049}}),
    Ids({1131, 1130, 1133, 1134, 1135, 1026, 1027, 1068, 1033, 1044, 1034, 1035, 1053, 1136, 1129, 1128, 1137, 1072,
         1073, 1119, 1120, 1121, 1020, 1022, 1051},
        {{1028, 1032}}),
    Ids({1011, 1023, 1010, 1127, 1020}, {{1012, 1014}, {1016, 1019}, {1006, 1009}}),
    Ids({1066, 1123, 1069, 1067, 1124, 1125, 1126}, {{1054, 1060}}),
    LayoutIds(EnvironmentLayout, std::size(EnvironmentLayout)),
    LayoutIds(NotesInitLayout, std::size(NotesInitLayout)),
};
const int kFocus[] = {1050, 1020, 1020, 1054, 1099, 1098};

struct Caption {
    int page, id;
    const char* text;
    Rect rect;  // {} when its place is not checked
};
const Caption kCaptions[] = {
    {1, 1020, "DISPENSE", {360, 50, 70, 25}},  {1, 1022, "Cancel", {360, 130, 70, 25}},
    {1, 1051, "Purge", {360, 170, 70, 25}},    {2, 1020, "OK", {365, 200, 65, 25}},
    {2, 1127, "\"Please Press OK Button\"", {}}, {4, 1098, "Set        ", {}},
    {4, 1099, "REQ SEEPROM", {310, 150, 110, 30}}, {4, 1100, "REQ AVERAGE", {}},
    {5, 1098, "TYPE 1", {}},                   {5, 1099, "TYPE 2", {}},
    {5, 1100, "TYPE 3", {}},                   {5, 1112, "TYPE 4", {50, 140, 70, 25}},
    {5, 1077, "(75 - 80mm)", {}},
};

void ExpectPage(const TestConsole& c, int page) {
    SCOPED_TRACE("page " + std::to_string(page));
    const ControlTable& t = c.dlg->Controls();
    EXPECT_EQ(c.dlg->CurrentPage(), page);
    std::set<int> visible;
    for (const Control& k : t.All())
        if (k.visible && k.id > 1 && k.id != 1003 && k.id != 1004 && k.id != 1005) visible.insert(k.id);
    EXPECT_EQ(visible, kVisible[page]);
    EXPECT_EQ(t.Focus(), kFocus[page]);
    for (int id : {1003, 1004, 1005, 1, kLabelMessage, kLabelStatus}) EXPECT_TRUE(t.IsVisible(id)) << id;
    for (const Caption& k : kCaptions) {
        if (k.page != page) continue;
        EXPECT_EQ(t.Text(k.id), k.text);
        if (k.rect.w) {
            EXPECT_EQ(t.Find(k.id)->rect, k.rect) << k.id;
        }
    }
}

}  // namespace

TEST(PageSwitch, VisibleSetsCaptionsPlacesAndFocus) {
    TestConsole c({.calibrationTabs = true});
    ASSERT_EQ(c.controls().Tabs(), (Strings{"STATUS", "MENU", "SETUP", "TP", "Set Environmant", "Notes Init"}));
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
    // The focus comes back to "STATUS" on every repaint of page 0.
    c.Tab(0);
    c.controls().SetFocus(1003);
    c.dlg->OnPaint();
    EXPECT_EQ(c.controls().Focus(), 1050);

    TestConsole plain;  // without the option only the four tabs exist
    EXPECT_EQ(plain.controls().Tabs(), (Strings{"STATUS", "MENU", "SETUP", "TP"}));
}

TEST(PageSwitch, LowerControlsFollowTheModel) {
    TestConsole c;
    const auto modelAndLower = [&c] { return c.Checks({1134, 1135}) + " " + c.Enabled({1027, 1044, 1029}); };
    c.Tab(1);
    EXPECT_EQ(modelAndLower(), "10 000");
    c.Click(1135);
    EXPECT_EQ(modelAndLower(), "01 111");
    for (int page : {0, 2, 3}) {  // and so on every entry to "MENU"
        c.Do("tab " + std::to_string(page) + "; tab 1");
        EXPECT_EQ(modelAndLower(), "01 111") << page;
    }
    c.Click(1134);
    EXPECT_EQ(modelAndLower(), "10 000");
    c.Do("tab 3; tab 1");
    EXPECT_EQ(modelAndLower(), "10 000");
    EXPECT_EQ(c.Enabled({1026, 1028, 1031}), "110");  // the others stay as the template has them
}
