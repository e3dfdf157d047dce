#include <gtest/gtest.h>

#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

TEST(ConsoleStartup, OpensRememberedPortAndAnswersStatus) {
    TestConsole c({}, "3");
    ASSERT_EQ(c.channel->opens.size(), 1u);
    EXPECT_EQ(c.channel->opens[0].port, 3);
    EXPECT_EQ(c.channel->opens[0].baud, 9600);
    EXPECT_EQ(c.Message(), "Com Port 3 is opened");
    EXPECT_EQ(c.controls().Checked(1008), 1);

    c.Click(1050);
    auto w = c.TakeWrites();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(Hex(w[0]), "04 50 02 46 03 13");
    Bytes answer{ACK};
    Bytes frame = ResponseFrame('F', {'0', 0x00, 0x41, 0x02});
    answer.insert(answer.end(), frame.begin(), frame.end());
    c.host.Deliver(answer);
    EXPECT_EQ(c.Status(), "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n");
    EXPECT_EQ(c.controls().Checked(1036), 1);
    EXPECT_EQ(c.controls().Checked(1049), 1);
    EXPECT_EQ(c.controls().Checked(1047), 1);
    EXPECT_TRUE(c.dlg->IsIdle());
}
