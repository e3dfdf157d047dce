// Start-up and the main dialog: the remembered port, failures, the end; and the
// "SETUP" page: reopening with the chosen port, baud rate and parity, and its failures.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

TEST(Startup, OpensTheRememberedPort) {
    const std::pair<const char*, int> cases[] = {{"", 1}, {"3", 3}, {"7", 1},  {"x", 1},
                                                 {"2", 2}, {"4", 4}, {"31", 3}, {"0", 1}};
    for (auto [profile, port] : cases) {
        SCOPED_TRACE(std::string("PORT=") + profile);
        TestConsole c({}, profile);
        ASSERT_EQ(c.channel->opens.size(), 1u);
        const FakeChannel::Open& o = c.channel->opens[0];
        EXPECT_EQ(std::make_tuple(o.port, o.baud, o.byteSize, o.stopBits, o.parity),
                  std::make_tuple(port, 9600, 8, 0, 0));
        EXPECT_EQ(c.Message(), "Com Port " + std::to_string(port) + " is opened");
        EXPECT_TRUE(c.dlg->PortOpen());
        std::string radios = "0000";
        radios[port - 1] = '1';
        EXPECT_EQ(c.Checks({1006, 1007, 1008, 1009}), radios);
        EXPECT_TRUE(c.host.boxes.empty());
        EXPECT_EQ(c.profile.writes, 0);  // start-up reads the profile, it does not write it
        c.Do("tab 2; click 1020");  // "OK" on "SETUP" reopens the port that start-up chose
        EXPECT_EQ(c.channel->opens.back().port, port);
    }
}

TEST(Startup, FailuresLeaveAUsableDialog) {
    // The port cannot be opened.
    TestConsole c({}, "", false);
    c.channel->failingPorts = {1};
    EXPECT_EQ(c.dlg->OnInitDialog(), 1);
    EXPECT_EQ(c.Boxes(), Strings{"Error|Can't open comport. init"});
    EXPECT_FALSE(c.dlg->PortOpen());
    // One line naming the port, its device (once) and the reason.
    const std::string m = c.Message();
    EXPECT_EQ(m, "COM1 (" + c.channel->ResolvePort(1) + "): No such file or directory\r\n");
    EXPECT_EQ(m.find("is opened"), std::string::npos);
    EXPECT_EQ(m.find("\r\n"), m.size() - 2);
    c.Tab(1);  // the pages still work
    EXPECT_EQ(c.controls().Text(1020), "DISPENSE");
    c.channel->failingPorts.clear();  // and the port can be opened later from "SETUP"
    c.Do("tab 2; click 1020");
    EXPECT_TRUE(c.dlg->PortOpen());
    EXPECT_EQ(c.channel->closes, 0);

    // The channel cannot be prepared.
    TestConsole d({}, "3", false);
    d.channel->initEventsResult = 0;
    EXPECT_EQ(d.dlg->OnInitDialog(), -1);
    EXPECT_EQ(d.Boxes(), Strings{"Error|You have to open Comm Port"});
    EXPECT_TRUE(d.channel->opens.empty());
    EXPECT_FALSE(d.dlg->PortOpen());
    EXPECT_EQ(d.Message(), "");
    EXPECT_EQ(d.controls().Text(1030), "1");  // the defaults are set all the same
    EXPECT_EQ(d.controls().Checked(1006), 1);
    d.Do("tab 2; click 1020");  // "OK" on "SETUP" cannot prepare it either
    EXPECT_EQ(d.Boxes(), (Strings{"Error|You have to open Comm Port", "Error|Can't open comm port"}));
    EXPECT_TRUE(d.channel->opens.empty());
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
    c.Do("wait 10000; click 1050; ack");
    EXPECT_EQ(c.channel->writes.size(), writes);
    EXPECT_TRUE(c.host.boxes.empty());

    TestConsole d;  // the window's close box does the same
    d.dlg->OnClose();
    EXPECT_TRUE(d.host.ended);
    EXPECT_EQ(d.channel->closes, 1);
    EXPECT_FALSE(d.channel->connected);
}

TEST(PortSettings, OkReopensAndRemembersThePort) {
    TestConsole c({}, "2");
    ASSERT_TRUE(c.dlg->PortOpen());
    c.Do("tab 2; set 1004 old status");
    const std::string message = c.Message();
    c.Click(1020);
    EXPECT_EQ(c.channel->closes, 1);
    ASSERT_EQ(c.channel->opens.size(), 2u);
    const FakeChannel::Open& o = c.channel->opens[1];
    EXPECT_EQ(std::make_tuple(o.port, o.baud, o.byteSize, o.stopBits, o.parity), std::make_tuple(2, 9600, 8, 0, 0));
    EXPECT_TRUE(c.channel->connected);
    EXPECT_TRUE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.writes, 1);
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "2");
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(c.Message(), message);
    EXPECT_TRUE(c.host.boxes.empty());
    EXPECT_TRUE(c.TakeWrites().empty());

    // Another port is remembered for the next start.
    c.Do("click 1009; click 1020");
    EXPECT_EQ(c.channel->opens.back().port, 4);
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "4");
    TestConsole next({}, c.profile.values["KALVOR/PORT"]);
    EXPECT_EQ(next.channel->opens.back().port, 4);
}

TEST(PortSettings, PortThatCannotBeOpened) {
    TestConsole c;
    c.channel->failingPorts = {4};
    c.Do("tab 2; click 1009");
    const std::string message = c.Message();
    c.Click(1020);
    EXPECT_EQ(c.Boxes(), Strings{"Error|Can't open comport."});
    EXPECT_EQ(c.channel->closes, 1);  // the port that worked was closed first
    EXPECT_FALSE(c.channel->connected);
    EXPECT_FALSE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.writes, 0);
    EXPECT_EQ(c.profile.values.count("KALVOR/PORT"), 0u);
    // One line naming the port, its device (once) and the reason.
    ASSERT_GT(c.Message().size(), message.size());
    EXPECT_EQ(c.Message().substr(message.size()),
              "\r\nCOM4 (" + c.channel->ResolvePort(4) + "): No such file or directory\r\n");

    // With no port open, "OK" on another port opens it without closing anything.
    c.Do("click 1007; click 1020");
    EXPECT_EQ(c.channel->closes, 1);
    EXPECT_TRUE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "2");
}

TEST(PortSettings, RadiosGiveTheLineSettingsEvenWhileAnExchangeIsOutstanding) {
    struct Case {
        int baudRadio, baud, parityRadio, parity;  // parity as the channel takes it: 0 none, 1 odd, 2 even
    };
    TestConsole c;
    c.Do("click 1050; tab 2");  // "STATUS": busy
    ASSERT_EQ(c.link().busy, 1);
    int reopens = 0;
    for (const Case& k : {Case{1018, 19200, 1014, 1}, {1016, 4800, 1012, 0}, {1017, 9600, 1013, 2},
                          {1019, 38400, 1012, 0}}) {
        SCOPED_TRACE(k.baud);
        c.Click(k.baudRadio);
        c.Click(k.parityRadio);
        c.Click(1020);
        EXPECT_EQ(c.channel->closes, ++reopens);
        ASSERT_EQ(c.channel->opens.size(), reopens + 1u);
        EXPECT_TRUE(c.dlg->PortOpen());
        EXPECT_EQ(c.profile.values["KALVOR/PORT"], "1");
        const FakeChannel::Open& o = c.channel->opens.back();
        EXPECT_EQ(std::make_tuple(o.baud, o.byteSize, o.stopBits, o.parity), std::make_tuple(k.baud, 8, 0, k.parity));
        // One radio of each group stays set.
        std::string parities = "000", bauds = "0000";
        parities[k.parityRadio - 1012] = bauds[k.baudRadio - 1016] = '1';
        EXPECT_EQ(c.Checks({1012, 1013, 1014}), parities);
        EXPECT_EQ(c.Checks({1016, 1017, 1018, 1019}), bauds);
    }
    // A radio alone touches nothing.
    const size_t opens = c.channel->opens.size();
    c.Do("click 1013; click 1016; click 1008");
    EXPECT_EQ(c.channel->opens.size(), opens);
}
