// The module's side of the handshake, driven over a pseudo-terminal as the console drives it.
#include <chrono>
#include <gtest/gtest.h>

#include "sim_rig.h"

namespace zeda::test {
namespace {

TEST(SimLink, CommandIsAcknowledgedAnsweredAndTheConsolesAckCounted) {
    SimRig rig(FastOptions());
    rig.Send({0x04, 0x50, 0x02, 0x46, 0x03, 0x13});  // STATUS exactly as the console writes it
    EXPECT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes f = rig.ReadThroughFrame();
    ASSERT_EQ(f.size(), 10u);
    EXPECT_TRUE(WellFormedResponse(f));
    EXPECT_EQ(f[1], 'P');
    EXPECT_EQ(f[3], 'F');
    rig.Send({0x06});
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 1; }));
    EXPECT_EQ(rig.Sim().Counters().goodFrames, 1u);
}

TEST(SimLink, BrokenOrUnknownCommandsGetNakAndNoAnswer) {
    SimOptions o = FastOptions();
    o.frameGapMs = 50;
    SimRig rig(o);
    Bytes bad = Command('F');
    bad.back() ^= 0x5A;
    rig.Send(bad);
    EXPECT_EQ(rig.Read(1), Bytes{0x15});
    rig.SendCommand('Z');
    EXPECT_EQ(rig.Read(1), Bytes{0x15});
    rig.Send({0x04, 'P', 0x02, 'F'});  // stalls before its ETX
    EXPECT_EQ(rig.Read(1), Bytes{0x15});
    EXPECT_TRUE(rig.Collect(150).empty());
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.badFrames, 2u);
    EXPECT_EQ(c.unknownCommands, 1u);
    EXPECT_EQ(c.commandsExecuted, 0u);
    EXPECT_EQ(rig.Exchange('F')[3], 'F');  // the console's resend goes through
}

TEST(SimLink, ConsoleNakGetsTheSameAnswerAtMostTwiceMore) {
    SimRig rig(FastOptions());
    rig.SendCommand('G');
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes first = rig.ReadThroughFrame();
    for (int i = 0; i < 2; ++i) {
        rig.Send({0x15});
        EXPECT_EQ(rig.ReadThroughFrame(), first) << "repeat " << i + 1;
    }
    rig.Send({0x15});
    EXPECT_TRUE(rig.Collect(200).empty()) << "no third repeat";
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAbandoned == 1; }));
    EXPECT_EQ(rig.Sim().Counters().responsesResent, 2u);
}

TEST(SimLink, NoiseBetweenFramesIsIgnoredAndFramesMayComeInPieces) {
    SimRig rig(FastOptions());
    rig.Send({0x00, 0x41, 0x06, 0x15, 0x04, 0x41});  // noise, a stray ACK and NAK, a false start
    const Bytes cmd = Command('b');
    rig.Send(Bytes(cmd.begin(), cmd.begin() + 2));
    rig.Collect(20);
    rig.Send(Bytes(cmd.begin() + 2, cmd.begin() + 5));
    rig.Collect(20);
    rig.Send(Bytes(cmd.begin() + 5, cmd.end()));
    EXPECT_EQ(rig.Read(1), Bytes{0x06});
    EXPECT_EQ(LastFrame(rig.ReadThroughFrame())[3], 'b');
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.naksSent, 0u);
    EXPECT_EQ(c.strayBytes, 3u);  // 0x00, 0x41 and the 'A' that ends the false start
}

TEST(SimLink, EtxInsideCalibrationDataDoesNotEndTheFrame) {
    SimRig rig(FastOptions());
    // 0x15, then two blocks whose note lengths were typed as "03" and "01".
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

TEST(SimLink, ConsoleMayCloseAndReopenTheLineAtAnyTime) {
    SimOptions o = FastOptions();
    o.timeScale = 1.0;
    o.mechMs = 200;
    SimRig rig(o);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(rig.Exchange('F')[3], 'F');
        rig.CloseSlave();
        ASSERT_TRUE(rig.WaitFor([i](const SimCounters& c) { return c.hangups == uint64_t(i); }));
        rig.OpenSlave();
    }
    // Closed while a dispense is under way: its answer is dropped, not left for the next opener.
    rig.SendCommand('E', Text("01"));
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    rig.CloseSlave();
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.hangups == 5; }));
    rig.OpenSlave();
    EXPECT_TRUE(rig.Collect(400).empty());
    EXPECT_EQ(rig.Exchange('G')[3], 'G');
    EXPECT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 5; }));
}

TEST(SimLink, CommandArrivingWhileBusyIsQueued) {
    SimOptions o = FastOptions();
    o.timeScale = 1.0;
    o.mechMs = 200;
    SimRig rig(o);
    rig.SendCommand('E', Text("02"));
    rig.SendCommand('r');
    EXPECT_EQ(rig.Read(2), (Bytes{0x06, 0x06}));
    EXPECT_EQ(LastFrame(rig.ReadThroughFrame())[3], 'E');
    rig.Send({0x06});
    EXPECT_EQ(LastFrame(rig.ReadThroughFrame())[3], 'r');
}

TEST(SimLink, PacedAnswersTakeTheirLineTime) {
    SimOptions o = FastOptions();
    o.pacing = true;
    SimRig rig(o);
    rig.SendCommand('s');
    rig.Read(1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(rig.ReadThroughFrame().size(), 86u);
    // 86 bytes of 10 bits at 9600 baud need about 90 ms; only a lower bound, the machine may be slow.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

}  // namespace
}  // namespace zeda::test
