// The "SETUP" page: reopening with the chosen port, baud rate and parity, and its failures.
#include <gtest/gtest.h>

#include <tuple>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

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
    // One line naming the port, its device and the reason.
    ASSERT_GT(c.Message().size(), message.size());
    const std::string added = c.Message().substr(message.size());
    for (const std::string& part : {std::string("COM4"), c.channel->ResolvePort(4), c.channel->error})
        EXPECT_NE(added.find(part), std::string::npos) << added;
    EXPECT_EQ(added.substr(added.size() - 2), "\r\n");

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
