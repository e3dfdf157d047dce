// The module's side of the handshake, driven over a pseudo-terminal as the console drives it.
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

#include "sim_rig.h"

namespace zeda::test {
namespace {


TEST(SimLink, CommandsAreAcknowledgedAnsweredAndRepeatedAtMostTwice) {
    SimRig rig(FastOptions());
    rig.Send({0x04, 0x50, 0x02, 0x46, 0x03, 0x13});  // STATUS exactly as the console writes it
    EXPECT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes f = rig.ReadThroughFrame();
    ASSERT_EQ(f.size(), 10u);
    EXPECT_TRUE(WellFormedResponse(f));
    EXPECT_EQ(f[1], 'P');
    EXPECT_EQ(f[3], 'F');
    for (int i = 0; i < 2; ++i) {
        rig.Send({0x15});
        EXPECT_EQ(rig.ReadThroughFrame(), f) << "repeat " << i + 1;
    }
    rig.Send({0x15});
    EXPECT_TRUE(rig.Collect(200).empty()) << "no third repeat";
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAbandoned == 1; }));
    EXPECT_EQ(rig.Sim().Counters().responsesResent, 2u);
    EXPECT_EQ(rig.Exchange('G')[3], 'G');
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 1; }));
    EXPECT_EQ(rig.Sim().Counters().goodFrames, 2u);

    // An ETX inside calibration data does not end the frame: 0x15, then two blocks whose note
    // lengths were typed as "03" and "01".
    const Bytes data = {0x15, '7', '?', '0', '2', '8', '0', 0x03, 0x01, 0x00,
                        '0', '1', '9', '0', '0', ':', 0x40, 0x64, 0x00};
    const Bytes answer = rig.Exchange(0x80, data);
    ASSERT_TRUE(WellFormedResponse(answer));
    ASSERT_EQ(answer.size(), 24u);
    EXPECT_EQ(answer[10], 0x02);  // 0x03 and 0x01 go out as the nearest value below
    EXPECT_EQ(answer[11], 0x00);
    EXPECT_EQ(Bytes(answer.begin() + 13, answer.end() - 2), Bytes(data.begin() + 10, data.end()));
    EXPECT_EQ(rig.Sim().State().calibration, Bytes(data.begin() + 1, data.end()));
    const Bytes readBack = rig.Exchange(0x81);
    EXPECT_EQ(readBack[3], 0x81);
    EXPECT_EQ(Bytes(readBack.begin() + 4, readBack.end() - 2), Bytes(answer.begin() + 4, answer.end() - 2));
}


}  // namespace
}  // namespace zeda::test
