// Start-up and the main dialog: the port remembered in the profile, failures at start, the
// initial values, the two pane appends, and the end of the dialog.
#include <gtest/gtest.h>

#include <set>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

TEST(Startup, OpensTheRememberedPort) {
    struct Case {
        const char* profile;  // empty: no value
        uint16_t port;
        int radio;
    };
    const Case cases[] = {
        {"", 1, 1006}, {"3", 3, 1008}, {"7", 1, 1006}, {"x", 1, 1006}, {"2", 2, 1007}, {"4", 4, 1009},
        {"31", 3, 1008}, {"0", 1, 1006},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string("PORT=") + k.profile);
        TestConsole c({}, k.profile);
        ASSERT_EQ(c.channel->opens.size(), 1u);
        EXPECT_EQ(c.channel->opens[0].port, k.port);
        EXPECT_EQ(c.channel->opens[0].baud, 9600);
        EXPECT_EQ(c.channel->opens[0].byteSize, 8);
        EXPECT_EQ(c.channel->opens[0].stopBits, 0);
        EXPECT_EQ(c.channel->opens[0].parity, 0);
        EXPECT_EQ(c.Message(), "Com Port " + std::to_string(k.port) + " is opened");
        EXPECT_TRUE(c.dlg->PortOpen());
        for (int id = 1006; id <= 1009; ++id) EXPECT_EQ(c.controls().Checked(id), id == k.radio ? 1 : 0) << id;
        EXPECT_TRUE(c.host.boxes.empty());
        // Start-up reads the profile, it does not write it.
        EXPECT_EQ(c.profile.writes, 0);
        // "OK" on "SETUP" reopens the port that start-up chose.
        c.Tab(2);
        c.Click(1020);
        EXPECT_EQ(c.channel->opens.back().port, k.port);
    }
}

TEST(Startup, FailuresLeaveAUsableDialog) {
    // The port cannot be opened.
    {
        TestConsole c({}, "", false);
        c.channel->failingPorts = {1};
        EXPECT_EQ(c.dlg->OnInitDialog(), 1);
        ASSERT_EQ(c.host.boxes.size(), 1u);
        EXPECT_EQ(c.host.boxes[0].text, "Can't open comport. init");
        EXPECT_EQ(c.host.boxes[0].caption, "Error");
        EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
        EXPECT_FALSE(c.dlg->PortOpen());
        const std::string m = c.Message();
        EXPECT_NE(m.find("COM1"), std::string::npos) << m;
        EXPECT_NE(m.find(c.channel->ResolvePort(1)), std::string::npos) << m;
        EXPECT_NE(m.find(c.channel->error), std::string::npos) << m;
        EXPECT_EQ(m.find("is opened"), std::string::npos);
        ASSERT_GE(m.size(), 2u);
        EXPECT_EQ(m.substr(m.size() - 2), "\r\n");
        EXPECT_EQ(m.find("\r\n"), m.size() - 2);  // one line
        // The pages still work.
        c.Tab(1);
        EXPECT_EQ(c.controls().Text(1020), "DISPENSE");
        // And the port can be opened later from "SETUP".
        c.channel->failingPorts.clear();
        c.Tab(2);
        c.Click(1020);
        EXPECT_TRUE(c.dlg->PortOpen());
        EXPECT_EQ(c.channel->closes, 0);
    }
    // The channel cannot be prepared.
    {
        TestConsole c({}, "3", false);
        c.channel->initEventsResult = 0;
        EXPECT_EQ(c.dlg->OnInitDialog(), -1);
        ASSERT_EQ(c.host.boxes.size(), 1u);
        EXPECT_EQ(c.host.boxes[0].text, "You have to open Comm Port");
        EXPECT_EQ(c.host.boxes[0].caption, "Error");
        EXPECT_TRUE(c.channel->opens.empty());
        EXPECT_FALSE(c.dlg->PortOpen());
        EXPECT_EQ(c.Message(), "");
        // The defaults are set all the same.
        EXPECT_EQ(c.controls().Text(1030), "1");
        EXPECT_EQ(c.controls().Checked(1006), 1);
        // "OK" on "SETUP" cannot prepare it either.
        c.Tab(2);
        c.Click(1020);
        ASSERT_EQ(c.host.boxes.size(), 2u);
        EXPECT_EQ(c.host.boxes[1].text, "Can't open comm port");
        EXPECT_TRUE(c.channel->opens.empty());
    }
}

TEST(Startup, InitialValues) {
    TestConsole c;
    const std::pair<int, const char*> texts[] = {
        {1028, "0"}, {1029, "0"}, {1030, "1"}, {1031, "0"}, {1032, "0"}, {1137, "0"}, {1004, ""},
    };
    for (auto [id, text] : texts) EXPECT_EQ(c.controls().Text(id), text) << id;
    for (int id : {1082, 1083, 1084, 1085, 1086, 1095, 1096, 1097, 1110, 1111, 1113, 1114, 1115, 1116})
        EXPECT_EQ(c.controls().Text(id), "") << id;
    const std::set<int> set = {1012, 1017, 1006, 1125, 1134};
    for (const Control& k : c.controls().All()) {
        if (k.kind == ControlKind::CheckBox || k.kind == ControlKind::Radio) {
            EXPECT_EQ(k.checked, set.count(k.id) ? 1 : 0) << k.id;
        }
    }
    EXPECT_EQ(c.dlg->CurrentPage(), 0);
    EXPECT_EQ(c.controls().TabSelection(), 0);
    EXPECT_EQ(c.controls().Tabs(), (std::vector<std::string>{"STATUS", "MENU", "SETUP", "TP"}));
    EXPECT_EQ(c.dlg->GetLink().state, LinkState::Idle);
    EXPECT_EQ(c.dlg->GetLink().busy, 0);
    EXPECT_TRUE(c.dlg->IsIdle());
    EXPECT_TRUE(c.host.timers.empty());
    EXPECT_TRUE(c.TakeWrites().empty());
    // These controls are visible on no page.
    for (int id : {2, 1021, 1052, 1132, 1061, 1122, 1070, 1071, 1117, 1087, 1088, 1103, 1109})
        EXPECT_FALSE(c.controls().IsVisible(id)) << id;
}

TEST(Startup, AppendsKeepTypedText) {
    TestConsole c;
    c.Tab(1);
    c.Type(1028, "42");
    c.Type(1030, "9");
    c.Type(1003, "typed ");
    c.dlg->AppendMessage("one");
    c.dlg->AppendMessage("two");
    c.dlg->AppendStatus("line");
    c.dlg->AppendStatus("next");
    EXPECT_EQ(c.Message(), "typed onetwo");
    EXPECT_EQ(c.Status(), "line\n\rnext\n\r");
    EXPECT_EQ(c.controls().Text(1028), "42");
    EXPECT_EQ(c.controls().Text(1030), "9");

    // The same for a decoder that appends: a status answer.
    c.Type(1029, "11");
    c.Tab(0);
    c.Click(1050);
    c.host.Deliver({ACK});
    c.host.Deliver(ResponseFrame('F', {'0', 0x00, 0x41, 0x02}));
    EXPECT_EQ(c.Status(), "line\n\rnext\n\rSTATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n");
    EXPECT_EQ(c.controls().Text(1028), "42");
    EXPECT_EQ(c.controls().Text(1029), "11");
}

TEST(Startup, ExitEndsTheDialogAndClosesTheChannel) {
    TestConsole c;
    c.Click(1050);  // an exchange outstanding, TIMER_ACK armed
    ASSERT_TRUE(c.host.TimerArmed(TIMER_ACK));
    c.Click(1);
    EXPECT_TRUE(c.host.ended);
    EXPECT_TRUE(c.dlg->Ended());
    EXPECT_EQ(c.channel->closes, 1);
    EXPECT_FALSE(c.channel->connected);
    EXPECT_FALSE(c.dlg->PortOpen());
    EXPECT_TRUE(c.host.timers.empty());
    // Nothing more happens afterwards.
    const size_t writes = c.channel->writes.size();
    c.host.Advance(10000);
    c.Click(1050);
    c.host.Deliver({ACK});
    EXPECT_EQ(c.channel->writes.size(), writes);
    EXPECT_TRUE(c.host.boxes.empty());

    // The window's close box does the same.
    TestConsole d;
    d.dlg->OnClose();
    EXPECT_TRUE(d.host.ended);
    EXPECT_EQ(d.channel->closes, 1);
    EXPECT_FALSE(d.channel->connected);
}
