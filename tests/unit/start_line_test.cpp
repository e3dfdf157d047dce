// --baud, --parity and --model: the port opens with them at start, the radios show them, and "OK"
// on "SETUP" keeps them, as if the operator had clicked them before the port opened.
#include <gtest/gtest.h>

#include <tuple>

#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

TEST(StartLine, TheCommandLineSettingsOpenThePortAndStayOnSetup) {
    struct Case {
        unsigned baud;
        int parity, model;
        int wireBaud, wireParity;  // parity as the channel takes it: 0 none, 1 odd, 2 even
        const char *bauds, *parities, *models;
    };
    const Case cases[] = {
        {0, -1, -1, 9600, 0, "0100", "100", "10"},      // nothing given: the dialog's own defaults
        {19200, 1, 1, 19200, 2, "0010", "010", "01"},
        {4800, 2, 0, 4800, 1, "1000", "001", "10"},
        {38400, 0, -1, 38400, 0, "0001", "100", "10"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.baud);
        ConsoleOptions options;
        options.startBaud = k.baud;
        options.startParity = k.parity;
        options.simulatedModel = k.model;
        TestConsole c(options);
        ASSERT_EQ(c.channel->opens.size(), 1u);
        const FakeChannel::Open o = c.channel->opens[0];
        EXPECT_EQ(std::make_tuple(o.baud, o.byteSize, o.stopBits, o.parity), std::make_tuple(k.wireBaud, 8, 0, k.wireParity));
        EXPECT_EQ(c.Checks({1016, 1017, 1018, 1019}), k.bauds);
        EXPECT_EQ(c.Checks({1012, 1013, 1014}), k.parities);
        EXPECT_EQ(c.Checks({1134, 1135}), k.models);
        c.Do("tab 2; click 1020");  // "OK" reopens with what the radios show
        ASSERT_EQ(c.channel->opens.size(), 2u);
        EXPECT_EQ(std::make_tuple(c.channel->opens[1].baud, c.channel->opens[1].parity), std::make_tuple(o.baud, o.parity));
    }
}
