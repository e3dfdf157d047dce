// The module's side of the handshake, driven over a pseudo-terminal as the console would drive it.
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>

#include "sim_rig.h"

namespace zeda::test {
namespace {

TEST(SimLink, StatusIsAcknowledgedThenAnsweredAndTheAckIsCounted) {
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
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.goodFrames, 1u);
    EXPECT_EQ(c.acksSent, 1u);
    EXPECT_EQ(c.responsesSent, 1u);
    EXPECT_EQ(c.acksReceived, 1u);
}

TEST(SimLink, WrongBccIsAnsweredWithNakOnlyAndTheLineRecovers) {
    SimRig rig(FastOptions());
    Bytes bad = Command('F');
    bad.back() ^= 0x5A;
    rig.Send(bad);
    EXPECT_EQ(rig.Read(1), Bytes{0x15});
    EXPECT_TRUE(rig.Collect(200).empty()) << "a broken command must not be answered";
    EXPECT_EQ(rig.Sim().Counters().badFrames, 1u);
    EXPECT_EQ(rig.Sim().Counters().commandsExecuted, 0u);

    // The console's resend of the same command goes through.
    EXPECT_EQ(rig.Exchange('F')[3], 'F');
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
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.responsesResent, 2u);
    EXPECT_EQ(c.naksReceived, 3u);
    EXPECT_EQ(c.responsesAcknowledged, 0u);
}

TEST(SimLink, AnswerWithoutAckIsGivenUpAfterTheWaitAndNotRepeated) {
    SimOptions o = FastOptions();
    o.ackWaitMs = 100;
    SimRig rig(o);
    rig.SendCommand('r');
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    rig.ReadThroughFrame();
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAbandoned == 1; }));
    EXPECT_TRUE(rig.Collect(150).empty());
    // A late ACK changes nothing, and the next command is served normally.
    rig.Send({0x06});
    EXPECT_EQ(rig.Exchange('r')[3], 'r');
    EXPECT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 1; }));
}

TEST(SimLink, BytesOutsideFramesAreIgnoredAndFramesMayArriveInPieces) {
    SimRig rig(FastOptions());
    rig.Send({0x00, 0x41, 0x06, 0x15, 0xFF, 0x04, 0x41});  // noise, a stray ACK and NAK, a false start
    const Bytes cmd = Command('b');
    rig.Send(Bytes(cmd.begin(), cmd.begin() + 2));
    rig.Collect(20);
    rig.Send(Bytes(cmd.begin() + 2, cmd.begin() + 5));
    rig.Collect(20);
    rig.Send(Bytes(cmd.begin() + 5, cmd.end()));
    EXPECT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes f = LastFrame(rig.ReadThroughFrame());
    EXPECT_EQ(f[3], 'b');
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.badFrames, 0u);
    EXPECT_EQ(c.naksSent, 0u);
    EXPECT_EQ(c.strayBytes, 4u);  // 0x00, 0x41, 0xFF and the 'A' that ends the false start
    EXPECT_EQ(c.acksReceived, 1u);
    EXPECT_EQ(c.naksReceived, 1u);
}

TEST(SimLink, UnknownCommandAndStalledFrameAreRefusedWithNak) {
    SimOptions o = FastOptions();
    o.frameGapMs = 50;
    SimRig rig(o);
    rig.SendCommand('Z');
    EXPECT_EQ(rig.Read(1), Bytes{0x15});
    EXPECT_EQ(rig.Sim().Counters().unknownCommands, 1u);

    const Bytes cmd = Command('F');
    rig.Send(Bytes(cmd.begin(), cmd.begin() + 4));  // EOT P STX F, then nothing
    EXPECT_EQ(rig.Read(1), Bytes{0x15});
    EXPECT_EQ(rig.Sim().Counters().badFrames, 1u);
    EXPECT_TRUE(rig.Collect(100).empty());
}

TEST(SimLink, EtxInsideCalibrationDataDoesNotEndTheFrame) {
    SimRig rig(FastOptions());
    // 0x15, then two blocks whose note lengths are 0x03 and 0x01 (lengths typed as "03" and "01").
    Bytes data = {0x15, '7', '?', '0', '2', '8', '0', 0x03, 0x01, 0x00,
                  '0', '1', '9', '0', '0', ':', 0x40, 0x64, 0x00};
    const Bytes answer = rig.Exchange(0x80, data);
    ASSERT_EQ(answer.size(), 24u);
    EXPECT_TRUE(WellFormedResponse(answer));
    EXPECT_EQ(answer[3], 0x80);
    // Bytes that would end or restart the frame go out as the nearest value below.
    EXPECT_EQ(answer[10], 0x02);
    EXPECT_EQ(answer[11], 0x00);
    EXPECT_EQ(Bytes(answer.begin() + 13, answer.begin() + 22), Bytes(data.begin() + 10, data.end()));

    const ModuleState s = rig.Sim().State();
    EXPECT_EQ(s.calibration, Bytes(data.begin() + 1, data.end())) << "the record keeps what was written";
    const Bytes readBack = rig.Exchange(0x81);
    ASSERT_EQ(readBack.size(), answer.size());
    EXPECT_EQ(readBack[3], 0x81);
    EXPECT_EQ(Bytes(readBack.begin() + 4, readBack.end() - 2), Bytes(answer.begin() + 4, answer.end() - 2));
}

TEST(SimLink, ConsoleMayCloseAndReopenTheLineManyTimes) {
    SimRig rig(FastOptions());
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(rig.Exchange('F')[3], 'F');
        ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged >= 1; }));
        rig.CloseSlave();
        ASSERT_TRUE(rig.WaitFor([i](const SimCounters& c) { return c.hangups == static_cast<uint64_t>(i); }));
        rig.OpenSlave();
    }
    EXPECT_EQ(rig.Exchange('G')[3], 'G');
    EXPECT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 6; }));
    EXPECT_EQ(rig.Sim().Counters().responsesAbandoned, 0u);
}

TEST(SimLink, ClosingDuringAnAnswerDropsItInsteadOfDeliveringItToTheNextOpener) {
    SimOptions o = FastOptions();
    o.timeScale = 1.0;
    o.mechMs = 300;
    SimRig rig(o);
    rig.SendCommand('E', Text("01"));
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    rig.CloseSlave();
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.hangups == 1; }));
    rig.OpenSlave();
    EXPECT_TRUE(rig.Collect(500).empty());
    EXPECT_EQ(rig.Sim().Counters().responsesSent, 0u);
}

TEST(SimLink, CommandArrivingWhileBusyIsQueuedAndAnsweredAfterwards) {
    SimOptions o = FastOptions();
    o.timeScale = 1.0;
    o.mechMs = 200;
    o.perNoteMs = 10;
    SimRig rig(o);
    rig.SendCommand('E', Text("02"));
    rig.SendCommand('r');
    EXPECT_EQ(rig.Read(2), (Bytes{0x06, 0x06}));
    const Bytes first = rig.ReadThroughFrame();
    EXPECT_EQ(LastFrame(first)[3], 'E');
    rig.Send({0x06});
    const Bytes second = rig.ReadThroughFrame();
    EXPECT_EQ(LastFrame(second)[3], 'r');
    rig.Send({0x06});
    EXPECT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 2; }));
}

TEST(SimLink, PacedAnswersTakeTheirLineTime) {
    SimOptions o = FastOptions();
    o.pacing = true;
    o.baud = 9600;
    SimRig rig(o);
    rig.SendCommand('s');
    const auto start = std::chrono::steady_clock::now();
    rig.Read(1);
    const Bytes f = rig.ReadThroughFrame();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(f.size(), 86u);
    // 86 bytes of 10 bits at 9600 baud need about 90 ms; a lower bound only, the machine may be slow.
    EXPECT_GE(ms.count(), 60);
}

TEST(SimLink, ServeRefusesABadDescriptorAndReturnsAtOnceAfterStop) {
    Simulator sim(FastOptions());
    EXPECT_EQ(sim.Serve(-1), -1);
    int master = -1;
    std::string path;
    ASSERT_TRUE(OpenPtyPair(master, path));
    sim.Stop();
    EXPECT_EQ(sim.Serve(master), 0);
    ::close(master);

    SimOptions bad = FastOptions();
    bad.model = 3000;
    EXPECT_FALSE(ValidateOptions(bad).empty());
    ASSERT_TRUE(OpenPtyPair(master, path));
    EXPECT_EQ(Simulator(bad).Serve(master), -1);
    ::close(master);
}

}  // namespace
}  // namespace zeda::test
