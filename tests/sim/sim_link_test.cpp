// The module's side of the handshake, driven over a pseudo-terminal as the console drives it, and
// the injected faults: each one observably does what it says, and a seed makes a whole run repeatable.
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

#include "sim_rig.h"

namespace zeda::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

SimOptions Timed(int mechMs = 200) {
    SimOptions o = FastOptions();
    o.timeScale = 1.0;
    o.mechMs = mechMs;
    return o;
}
SimOptions WithFault(double FaultOptions::*fault) {
    SimOptions o = FastOptions();
    o.faults.*fault = 1.0;
    return o;
}

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

TEST(SimLink, BrokenOrUnknownCommandsGetNakAndNoAnswer) {
    SimOptions o = FastOptions();
    o.frameGapMs = 50;
    SimRig rig(o);
    Bytes bad = Command('F');
    bad.back() ^= 0x5A;
    for (const Bytes& b : {bad, Command('Z'), Bytes{0x04, 'P', 0x02, 'F'}}) {  // the last stalls before its ETX
        rig.Send(b);
        EXPECT_EQ(rig.Read(1), Bytes{0x15});
    }
    EXPECT_TRUE(rig.Collect(150).empty());
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.badFrames, 2u);
    EXPECT_EQ(c.unknownCommands, 1u);
    EXPECT_EQ(c.commandsExecuted, 0u);
    EXPECT_EQ(rig.Exchange('F')[3], 'F');  // the console's resend goes through
}

TEST(SimLink, NoiseBetweenFramesIsIgnoredAndFramesMayComeInPieces) {
    SimRig rig(FastOptions());
    rig.Send({0x00, 0x41, 0x06, 0x15, 0x04, 0x41});  // noise, a stray ACK and NAK, a false start
    const Bytes cmd = Command('b');
    rig.Send(Bytes(cmd.begin(), cmd.begin() + 2));
    EXPECT_TRUE(rig.Collect(20).empty());
    rig.Send(Bytes(cmd.begin() + 2, cmd.begin() + 5));
    EXPECT_TRUE(rig.Collect(20).empty());
    rig.Send(Bytes(cmd.begin() + 5, cmd.end()));
    EXPECT_EQ(rig.Read(1), Bytes{0x06});
    EXPECT_EQ(LastFrame(rig.ReadThroughFrame())[3], 'b');
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.naksSent, 0u);
    EXPECT_EQ(c.strayBytes, 3u);  // 0x00, 0x41 and the 'A' that ends the false start
}

TEST(SimLink, ConsoleMayCloseAndReopenTheLineAtAnyTime) {
    SimRig rig(Timed());
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

TEST(SimLink, CommandArrivingWhileBusyIsQueuedAndPacedAnswersTakeTheirLineTime) {
    SimRig rig(Timed());
    rig.SendCommand('E', Text("02"));
    rig.SendCommand('r');
    EXPECT_EQ(rig.Read(2), (Bytes{0x06, 0x06}));
    EXPECT_EQ(LastFrame(rig.ReadThroughFrame())[3], 'E');
    rig.Send({0x06});
    EXPECT_EQ(LastFrame(rig.ReadThroughFrame())[3], 'r');

    SimOptions o = FastOptions();
    o.pacing = true;
    SimRig paced(o);
    paced.SendCommand('s');
    paced.Read(1);
    const auto start = steady_clock::now();
    ASSERT_EQ(paced.ReadThroughFrame().size(), 86u);
    // 86 bytes of 10 bits at 9600 baud need about 90 ms; only a lower bound, the machine may be slow.
    EXPECT_GE(steady_clock::now() - start, milliseconds(60));
}

TEST(SimFault, RefusedAcksLeaveTheCommandUndone) {
    struct Case {
        double FaultOptions::*fault;
        FaultKind kind;
        std::size_t replyBytes;
    };
    for (const Case& k : {Case{&FaultOptions::dropAck, FaultKind::DropAck, 0},
                          Case{&FaultOptions::nakAck, FaultKind::NakAck, 1},
                          Case{&FaultOptions::noiseAck, FaultKind::NoiseAck, 1}}) {
        SCOPED_TRACE(FaultName(k.kind));
        SimRig rig(WithFault(k.fault));
        for (int i = 1; i <= 10; ++i) {
            rig.SendCommand('F');
            ASSERT_TRUE(rig.WaitFor([&](const SimCounters& c) { return c.Fault(k.kind) == uint64_t(i); }));
            // Nothing may follow a dropped ACK; NAK and noise stand in its place.
            const Bytes got = k.replyBytes ? rig.Read(1) : rig.Collect(30);
            ASSERT_EQ(got.size(), k.replyBytes);
            if (k.replyBytes) {
                EXPECT_TRUE(k.kind == FaultKind::NakAck ? got[0] == 0x15 : got[0] != 0x06 && got[0] != 0x01) << int(got[0]);
            }
        }
        EXPECT_EQ(rig.Sim().Counters().commandsExecuted, 0u);
    }
}

TEST(SimFault, CorruptBccSpoilsEveryTransmissionAndCutAnswersStopBeforeTheEtx) {
    SimRig rig(WithFault(&FaultOptions::corruptBcc));
    rig.SendCommand('F');
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes first = rig.ReadThroughFrame();
    for (int i = 0; i < 3; ++i) {
        const Bytes f = i == 0 ? first : rig.ReadThroughFrame();
        ASSERT_EQ(f.size(), 10u);
        EXPECT_NE(XorOf(f), 0) << "transmission " << i + 1;
        EXPECT_EQ(Bytes(f.begin(), f.end() - 1), Bytes(first.begin(), first.end() - 1));
        rig.Send({0x15});
    }
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAbandoned == 1; }));

    SimOptions o = WithFault(&FaultOptions::cutResponse);
    o.ackWaitMs = 50;
    SimRig cut(o);
    for (int i = 1; i <= 10; ++i) {
        cut.SendCommand('s');  // an 86-byte answer
        ASSERT_EQ(cut.Read(1), Bytes{0x06});
        ASSERT_TRUE(cut.WaitFor([i](const SimCounters& c) { return c.responsesAbandoned == uint64_t(i); }));
        const Bytes got = cut.Collect(20);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], 0x01);
        EXPECT_EQ(std::count(got.begin(), got.end(), 0x03), 0);
    }
}

TEST(SimFault, LateWithheldAndNoisyAnswers) {
    // Late answers come late, withheld ones never.
    SimOptions o = WithFault(&FaultOptions::late);
    o.faults.lateMs = 300;
    SimRig late(o);
    late.SendCommand('F');
    ASSERT_EQ(late.Read(1), Bytes{0x06});
    const auto start = steady_clock::now();
    EXPECT_TRUE(WellFormedResponse(late.ReadThroughFrame()));
    EXPECT_GE(steady_clock::now() - start, milliseconds(250));

    SimRig never(WithFault(&FaultOptions::noAnswer));
    never.SendCommand('E', Text("02"));
    ASSERT_EQ(never.Read(1), Bytes{0x06});
    EXPECT_TRUE(never.Collect(200).empty());
    const SimCounters c = never.Sim().Counters();
    EXPECT_EQ(c.commandsExecuted, 1u) << "the work is done, only the answer is missing";
    EXPECT_EQ(never.Sim().State().notesUpper, 1998u);
    EXPECT_EQ(c.notesDispensed, 0u) << "no answer was acknowledged";

    // Noise goes between the ACK and the answer.
    SimRig rig(WithFault(&FaultOptions::noise));
    for (int i = 0; i < 10; ++i) {
        rig.SendCommand('F');
        ASSERT_EQ(rig.Read(1), Bytes{0x06});
        const Bytes got = rig.ReadThroughFrame();
        const std::size_t noise = got.size() - LastFrame(got).size();
        EXPECT_TRUE(noise >= 1 && noise <= 3) << noise;
        EXPECT_EQ(std::count_if(got.begin(), got.begin() + long(noise), [](uint8_t b) { return b == 1 || b == 6; }), 0);
        rig.Send({0x06});
    }
}

TEST(SimFault, RejectNoticesPrecedeTheAnswerAndOnlyAcknowledgedNotesCount) {
    SimOptions o = FastOptions();
    o.rejectRate = 0.4;
    o.maxRejects = 98;
    SimRig rig(o);
    rig.SendCommand('E', Text("20"));
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes got = rig.ReadThroughFrame();
    const Bytes f = LastFrame(got);
    const unsigned rejected = (f[10] & 15u) * 10 + (f[11] & 15u);
    ASSERT_EQ(got.size() - f.size(), 3 * rejected);
    for (unsigned i = 0; i < rejected; ++i) EXPECT_EQ(Bytes(got.begin() + 3 * i, got.begin() + 3 * i + 2), (Bytes{1, 0x9C}));
    EXPECT_EQ(rig.Sim().Counters().notesDispensed, 0u);
    rig.Send({0x06});
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 1; }));
    EXPECT_EQ(rig.Sim().Counters().notesDispensed, 20u);
    EXPECT_EQ(rig.Sim().Counters().notesRejected, rejected);
}

// A small console: answers good frames with ACK, bad ones with NAK (twice at most, as the console does),
// and moves on when an answer is cut or withheld. It waits on the counters, never on the clock, so what
// it receives depends on the seed only. Returns the byte stream and the counters.
std::pair<Bytes, SimCounters> RunConsole(const SimOptions& o) {
    const std::vector<std::pair<uint8_t, std::string>> script = {
        {'F', ""}, {'E', "03"}, {'b', ""}, {'V', "0201"}, {'k', ""}, {'r', ""}};
    SimRig rig(o);
    Bytes stream, since;  // since: what the module sent since the current command
    auto readAll = [&] {
        const Bytes b = rig.Read(rig.Sim().Counters().bytesSent - stream.size());
        stream.insert(stream.end(), b.begin(), b.end());
        since.insert(since.end(), b.begin(), b.end());
    };
    auto decided = [](const SimCounters& c) {
        return c.acksSent + c.naksSent + c.Fault(FaultKind::DropAck) + c.Fault(FaultKind::NoiseAck);
    };
    auto answered = [](const SimCounters& c) { return c.responsesSent + c.responsesResent + c.Fault(FaultKind::NoAnswer); };
    for (int i = 0; i < 48; ++i) {
        const auto& [cmd, data] = script[static_cast<std::size_t>(i) % script.size()];
        const SimCounters before = rig.Sim().Counters();
        since.clear();
        rig.SendCommand(cmd, Text(data));
        EXPECT_TRUE(rig.WaitFor([&](const SimCounters& c) { return decided(c) > decided(before); }));
        readAll();
        if (rig.Sim().Counters().acksSent == before.acksSent) continue;  // not taken
        uint64_t seen = answered(before);
        for (int transmission = 1;; ++transmission) {
            EXPECT_TRUE(rig.WaitFor([&](const SimCounters& n) { return answered(n) > seen; }));
            seen = answered(rig.Sim().Counters());
            readAll();  // the counter moves only after the whole transmission was written
            if (rig.Sim().Counters().Fault(FaultKind::NoAnswer) > before.Fault(FaultKind::NoAnswer)) break;
            const Bytes f = LastFrame(since);
            if (f.size() < 6 || f[f.size() - 2] != 0x03) break;  // cut short: the console gives it up
            if (XorOf(f) == 0) {
                rig.Send({0x06});
                EXPECT_TRUE(rig.WaitFor([&](const SimCounters& n) { return n.responsesAcknowledged > before.responsesAcknowledged; }));
                break;
            }
            if (transmission == 3) break;  // the console's third bad frame: no more NAKs
            rig.Send({0x15});
        }
    }
    return {stream, rig.Sim().Counters()};
}

TEST(SimFault, SameSeedGivesTheSameByteStream) {
    SimOptions o = FastOptions();
    o.seed = 2024;
    o.rejectRate = 0.2;
    FaultOptions& f = o.faults;
    f.dropAck = f.nakAck = f.noiseAck = f.corruptBcc = f.cutResponse = f.late = f.noAnswer = f.noise = 0.12;
    f.lateMs = 5;
    f.errorAt = {{4, 0x32}};

    const auto [streamA, countersA] = RunConsole(o);
    const auto [streamB, countersB] = RunConsole(o);
    EXPECT_EQ(streamA, streamB);
    EXPECT_EQ(countersA.faults, countersB.faults);
    EXPECT_EQ(countersA.notesDispensed, countersB.notesDispensed);
    for (int k = 0; k < kFaultKinds; ++k)
        EXPECT_GT(countersA.faults[k], 0u) << FaultName(static_cast<FaultKind>(k)) << " never happened";
    o.seed = 2025;
    EXPECT_NE(RunConsole(o).first, streamA);
}

}  // namespace
}  // namespace zeda::test
