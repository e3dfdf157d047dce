// The "SETUP" page: reopening the channel with the chosen port, baud rate and parity, the
// remembered port, a port that cannot be opened, and the model radios.
#include <gtest/gtest.h>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

TEST(PortSettings, OkReopensAndRemembersThePort) {
    TestConsole c({}, "2");
    ASSERT_EQ(c.channel->opens.size(), 1u);
    ASSERT_TRUE(c.dlg->PortOpen());
    c.Tab(2);
    c.Type(1004, "old status");
    const std::string message = c.Message();
    const int profileWrites = c.profile.writes;
    c.Click(1020);
    EXPECT_EQ(c.channel->closes, 1);
    ASSERT_EQ(c.channel->opens.size(), 2u);
    EXPECT_EQ(c.channel->opens[1].port, 2);
    EXPECT_EQ(c.channel->opens[1].baud, 9600);
    EXPECT_EQ(c.channel->opens[1].byteSize, 8);
    EXPECT_EQ(c.channel->opens[1].stopBits, 0);
    EXPECT_EQ(c.channel->opens[1].parity, 0);
    EXPECT_TRUE(c.channel->connected);
    EXPECT_TRUE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.writes, profileWrites + 1);
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "2");
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(c.Message(), message);
    EXPECT_TRUE(c.host.boxes.empty());
    EXPECT_TRUE(c.TakeWrites().empty());

    // Another port is remembered for the next start.
    c.Click(1009);
    c.Click(1020);
    EXPECT_EQ(c.channel->opens.back().port, 4);
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "4");
    TestConsole next({}, c.profile.values["KALVOR/PORT"]);
    EXPECT_EQ(next.channel->opens.back().port, 4);
    EXPECT_EQ(next.controls().Checked(1009), 1);
}

TEST(PortSettings, PortThatCannotBeOpened) {
    TestConsole c;
    c.channel->failingPorts = {4};
    c.Tab(2);
    c.Click(1009);
    const std::string message = c.Message();
    c.Click(1020);
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "Can't open comport.");
    EXPECT_EQ(c.host.boxes[0].caption, "Error");
    EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(c.channel->closes, 1);  // the port that worked was closed first
    EXPECT_FALSE(c.channel->connected);
    EXPECT_FALSE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.writes, 0);
    EXPECT_EQ(c.profile.values.count("KALVOR/PORT"), 0u);
    // One line naming the port, its device and the reason.
    ASSERT_GT(c.Message().size(), message.size());
    const std::string added = c.Message().substr(message.size());
    EXPECT_NE(added.find("COM4"), std::string::npos) << added;
    EXPECT_NE(added.find(c.channel->ResolvePort(4)), std::string::npos) << added;
    EXPECT_NE(added.find(c.channel->error), std::string::npos) << added;
    EXPECT_EQ(added.substr(added.size() - 2), "\r\n");

    // With no port open, "OK" on another port opens it without closing anything.
    c.Click(1007);
    c.Click(1020);
    EXPECT_EQ(c.channel->closes, 1);
    EXPECT_TRUE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "2");
}

TEST(PortSettings, ReopenHappensWhileAnExchangeIsOutstanding) {
    TestConsole c;
    c.Click(1050);  // "STATUS": busy
    ASSERT_EQ(c.dlg->GetLink().busy, 1);
    c.Tab(2);
    c.Click(1018);
    c.Click(1020);
    EXPECT_EQ(c.channel->closes, 1);
    ASSERT_EQ(c.channel->opens.size(), 2u);
    EXPECT_EQ(c.channel->opens[1].baud, 19200);
    EXPECT_TRUE(c.dlg->PortOpen());
    EXPECT_EQ(c.profile.values["KALVOR/PORT"], "1");
}

TEST(PortSettings, RadiosGiveTheLineSettings) {
    struct Case {
        int baudRadio;
        uint16_t baud;
        int parityRadio;
        uint8_t parity;  // as the channel takes it: 0 none, 1 odd, 2 even
    };
    const Case cases[] = {
        {1016, 4800, 1012, 0},
        {1017, 9600, 1013, 2},
        {1018, 19200, 1014, 1},
        {1019, 38400, 1012, 0},
    };
    TestConsole c;
    c.Tab(2);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.baud);
        c.Click(k.baudRadio);
        c.Click(k.parityRadio);
        c.Click(1020);
        ASSERT_FALSE(c.channel->opens.empty());
        EXPECT_EQ(c.channel->opens.back().baud, k.baud);
        EXPECT_EQ(c.channel->opens.back().parity, k.parity);
        EXPECT_EQ(c.channel->opens.back().byteSize, 8);
        EXPECT_EQ(c.channel->opens.back().stopBits, 0);
        // One radio of each group stays set.
        int parityChecked = 0, baudChecked = 0;
        for (int id = 1012; id <= 1014; ++id) parityChecked += c.controls().Checked(id);
        for (int id = 1016; id <= 1019; ++id) baudChecked += c.controls().Checked(id);
        EXPECT_EQ(parityChecked, 1);
        EXPECT_EQ(baudChecked, 1);
        EXPECT_EQ(c.controls().Checked(k.parityRadio), 1);
        EXPECT_EQ(c.controls().Checked(k.baudRadio), 1);
    }
    // A radio alone touches nothing.
    const size_t opens = c.channel->opens.size();
    c.Click(1013);
    c.Click(1016);
    c.Click(1008);
    EXPECT_EQ(c.channel->opens.size(), opens);
    EXPECT_EQ(CConsoleDlg::WireParity(0), 0);
    EXPECT_EQ(CConsoleDlg::WireParity(1), 2);
    EXPECT_EQ(CConsoleDlg::WireParity(2), 1);
}

TEST(PortSettings, ModelRadiosEnableTheLowerControls) {
    TestConsole c;
    c.Tab(1);
    EXPECT_EQ(c.controls().Checked(1134), 1);
    for (int id : {1027, 1044, 1029}) EXPECT_FALSE(c.controls().IsEnabled(id)) << id;
    c.Click(1135);
    EXPECT_EQ(c.controls().Checked(1134), 0);
    EXPECT_EQ(c.controls().Checked(1135), 1);
    for (int id : {1027, 1044, 1029}) EXPECT_TRUE(c.controls().IsEnabled(id)) << id;
    c.Click(1134);
    EXPECT_EQ(c.controls().Checked(1135), 0);
    for (int id : {1027, 1044, 1029}) EXPECT_FALSE(c.controls().IsEnabled(id)) << id;
    // The model decides how SEN1 of a status answer is read.
    c.Click(1135);
    c.Tab(0);
    c.Click(1050);
    c.host.Deliver({ACK});
    c.host.Deliver(ResponseFrame('F', {'0', 0x00, 0x00, 0x04}));
    EXPECT_EQ(c.controls().Checked(1046), 1);  // "Lower Cassette" is bit 2 under ZEDA2000
    EXPECT_EQ(c.controls().Checked(1118), 0);
}
