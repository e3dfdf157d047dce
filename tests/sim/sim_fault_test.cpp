// Injected faults: each one observably does what it says, and a seed makes a whole run repeatable.
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

#include "sim_rig.h"

namespace zeda::test {
namespace {

SimOptions WithFault(double FaultOptions::*fault) {
    SimOptions o = FastOptions();
    o.faults.*fault = 1.0;
    return o;
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
        SimRig rig(WithFault(k.fault));
        for (int i = 1; i <= 10; ++i) {
            rig.SendCommand('F');
            ASSERT_TRUE(rig.WaitFor([&](const SimCounters& c) { return c.Fault(k.kind) == uint64_t(i); }));
            // Nothing may follow a dropped ACK; NAK and noise stand in its place.
            const Bytes got = k.replyBytes ? rig.Read(1) : rig.Collect(30);
            ASSERT_EQ(got.size(), k.replyBytes) << FaultName(k.kind);
            if (k.kind == FaultKind::NakAck) {
                EXPECT_EQ(got[0], 0x15);
            } else if (k.kind == FaultKind::NoiseAck) {
                EXPECT_TRUE(got[0] != 0x06 && got[0] != 0x01);
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

TEST(SimFault, LateAnswersComeLateAndWithheldOnesNever) {
    SimOptions o = WithFault(&FaultOptions::late);
    o.faults.lateMs = 300;
    SimRig late(o);
    late.SendCommand('F');
    ASSERT_EQ(late.Read(1), Bytes{0x06});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WellFormedResponse(late.ReadThroughFrame()));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

    SimRig never(WithFault(&FaultOptions::noAnswer));
    never.SendCommand('E', Text("02"));
    ASSERT_EQ(never.Read(1), Bytes{0x06});
    EXPECT_TRUE(never.Collect(200).empty());
    const SimCounters c = never.Sim().Counters();
    EXPECT_EQ(c.commandsExecuted, 1u) << "the work is done, only the answer is missing";
    EXPECT_EQ(never.Sim().State().notesUpper, 1998u);
    EXPECT_EQ(c.notesDispensed, 0u) << "no answer was acknowledged";
}

TEST(SimFault, NoiseGoesBetweenTheAckAndTheAnswer) {
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
// it receives depends on the seed only.
struct Transcript {
    Bytes stream;
    SimCounters counters;
};

Transcript RunConsole(const SimOptions& o) {
    const std::vector<std::pair<uint8_t, std::string>> script = {
        {'F', ""}, {'E', "03"}, {'b', ""}, {'V', "0201"}, {'k', ""}, {'r', ""}};
    SimRig rig(o);
    Transcript t;
    uint64_t read = 0;
    Bytes since;  // what the module sent since the current command
    auto readAll = [&] {
        const uint64_t total = rig.Sim().Counters().bytesSent;
        const Bytes b = rig.Read(total - read);
        read = total;
        t.stream.insert(t.stream.end(), b.begin(), b.end());
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
    t.counters = rig.Sim().Counters();
    return t;
}

TEST(SimFault, SameSeedGivesTheSameByteStream) {
    SimOptions o = FastOptions();
    o.seed = 2024;
    o.rejectRate = 0.2;
    FaultOptions& f = o.faults;
    f.dropAck = f.nakAck = f.noiseAck = f.corruptBcc = f.cutResponse = f.late = f.noAnswer = f.noise = 0.12;
    f.lateMs = 5;
    f.errorAt = {{4, 0x32}};

    const Transcript a = RunConsole(o);
    const Transcript b = RunConsole(o);
    EXPECT_EQ(a.stream, b.stream);
    EXPECT_EQ(a.counters.faults, b.counters.faults);
    EXPECT_EQ(a.counters.notesDispensed, b.counters.notesDispensed);
    for (int k = 0; k < kFaultKinds; ++k)
        EXPECT_GT(a.counters.faults[k], 0u) << FaultName(static_cast<FaultKind>(k)) << " never happened";
    o.seed = 2025;
    EXPECT_NE(RunConsole(o).stream, a.stream);
}

}  // namespace
}  // namespace zeda::test
