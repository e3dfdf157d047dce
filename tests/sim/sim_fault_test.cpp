// Injected faults: each one observably does what it says, and a seed makes a whole run repeatable.
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

#include "sim_rig.h"

namespace zeda::test {
namespace {

SimOptions WithFault(const std::function<void(FaultOptions&)>& set) {
    SimOptions o = FastOptions();
    set(o.faults);
    return o;
}

uint64_t Faults(SimRig& rig, FaultKind k) { return rig.Sim().Counters().Fault(k); }

TEST(SimFault, RefusedAcksLeaveTheCommandUndone) {
    {
        SimRig rig(WithFault([](FaultOptions& f) { f.dropAck = 1.0; }));
        rig.SendCommand('F');
        ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.Fault(FaultKind::DropAck) == 1; }));
        EXPECT_TRUE(rig.Collect(150).empty());
        EXPECT_EQ(rig.Sim().Counters().commandsExecuted, 0u);
    }
    {
        SimRig rig(WithFault([](FaultOptions& f) { f.nakAck = 1.0; }));
        rig.SendCommand('F');
        EXPECT_EQ(rig.Read(1), Bytes{0x15});
        EXPECT_TRUE(rig.Collect(150).empty());
        EXPECT_EQ(Faults(rig, FaultKind::NakAck), 1u);
        EXPECT_EQ(rig.Sim().Counters().commandsExecuted, 0u);
    }
    {
        SimRig rig(WithFault([](FaultOptions& f) { f.noiseAck = 1.0; }));
        for (int i = 0; i < 20; ++i) {
            rig.SendCommand('F');
            const Bytes b = rig.Read(1);
            ASSERT_EQ(b.size(), 1u);
            EXPECT_NE(b[0], 0x06);
            EXPECT_NE(b[0], 0x01);
        }
        EXPECT_TRUE(rig.Collect(100).empty());
        EXPECT_EQ(Faults(rig, FaultKind::NoiseAck), 20u);
        EXPECT_EQ(rig.Sim().Counters().commandsExecuted, 0u);
    }
}

TEST(SimFault, CorruptBccSpoilsEveryTransmission) {
    SimRig rig(WithFault([](FaultOptions& f) { f.corruptBcc = 1.0; }));
    rig.SendCommand('F');
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    Bytes first;
    for (int i = 0; i < 3; ++i) {
        const Bytes f = rig.ReadThroughFrame();
        ASSERT_EQ(f.size(), 10u);
        EXPECT_EQ(f[8], 0x03);
        EXPECT_NE(XorOf(f), 0) << "transmission " << i + 1;
        if (i == 0) first = f;
        EXPECT_EQ(Bytes(f.begin(), f.end() - 1), Bytes(first.begin(), first.end() - 1));
        rig.Send({0x15});
    }
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAbandoned == 1; }));
    EXPECT_EQ(Faults(rig, FaultKind::CorruptBcc), 3u);
}

TEST(SimFault, CutAnswerStopsBeforeItsEtx) {
    SimOptions o = WithFault([](FaultOptions& f) { f.cutResponse = 1.0; });
    o.ackWaitMs = 100;
    SimRig rig(o);
    for (int i = 0; i < 10; ++i) {
        rig.SendCommand('s');  // an 86-byte answer
        ASSERT_EQ(rig.Read(1), Bytes{0x06});
        ASSERT_TRUE(rig.WaitFor([i](const SimCounters& c) { return c.responsesAbandoned == uint64_t(i) + 1; }));
        const Bytes got = rig.Collect(20);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0], 0x01);
        EXPECT_LT(got.size(), 85u);
        EXPECT_EQ(std::count(got.begin(), got.end(), 0x03), 0);
    }
    EXPECT_EQ(Faults(rig, FaultKind::CutResponse), 10u);
}

TEST(SimFault, LateAnswerComesAfterTheDelayAndNoAnswerNeverComes) {
    {
        SimRig rig(WithFault([](FaultOptions& f) {
            f.late = 1.0;
            f.lateMs = 300;
        }));
        rig.SendCommand('F');
        ASSERT_EQ(rig.Read(1), Bytes{0x06});
        const auto start = std::chrono::steady_clock::now();
        const Bytes f = rig.ReadThroughFrame();
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(WellFormedResponse(f));
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 250);
        EXPECT_EQ(Faults(rig, FaultKind::Late), 1u);
    }
    {
        SimRig rig(WithFault([](FaultOptions& f) { f.noAnswer = 1.0; }));
        rig.SendCommand('E', Text("02"));
        ASSERT_EQ(rig.Read(1), Bytes{0x06});
        EXPECT_TRUE(rig.Collect(200).empty());
        const SimCounters c = rig.Sim().Counters();
        EXPECT_EQ(c.Fault(FaultKind::NoAnswer), 1u);
        EXPECT_EQ(c.commandsExecuted, 1u) << "the module did the work, only the answer is missing";
        EXPECT_EQ(c.responsesSent, 0u);
        EXPECT_EQ(rig.Sim().State().notesUpper, FastOptions().notesUpper - 2);
        EXPECT_EQ(c.notesDispensed, 0u) << "no answer was acknowledged";
    }
}

TEST(SimFault, NoiseGoesBetweenTheAckAndTheAnswer) {
    SimRig rig(WithFault([](FaultOptions& f) { f.noise = 1.0; }));
    for (int i = 0; i < 10; ++i) {
        rig.SendCommand('F');
        ASSERT_EQ(rig.Read(1), Bytes{0x06});
        const Bytes got = rig.ReadThroughFrame();
        const Bytes f = LastFrame(got);
        EXPECT_TRUE(WellFormedResponse(f));
        const std::size_t noise = got.size() - f.size();
        EXPECT_GE(noise, 1u);
        EXPECT_LE(noise, 3u);
        for (std::size_t k = 0; k < noise; ++k) {
            EXPECT_NE(got[k], 0x01);
            EXPECT_NE(got[k], 0x06);
        }
        rig.Send({0x06});
    }
    EXPECT_EQ(Faults(rig, FaultKind::Noise), 10u);
}

TEST(SimFault, ChosenDispenseCycleAnswersTheChosenCode) {
    SimRig rig(WithFault([](FaultOptions& f) { f.errorAt = {{2, 0x3A}}; }));
    std::vector<uint8_t> results;
    for (int i = 0; i < 3; ++i) {
        rig.Exchange('F');  // other commands do not count as cycles
        const Bytes f = rig.Exchange('E', Text("01"));
        ASSERT_EQ(f.size(), 14u);
        results.push_back(f[8]);
    }
    EXPECT_EQ(results, (std::vector<uint8_t>{'1', 0x3A, '1'}));
    EXPECT_EQ(Faults(rig, FaultKind::ErrorAt), 1u);
}

TEST(SimFault, RejectNoticesPrecedeTheAnswerAndAcknowledgedNotesAreCounted) {
    SimOptions o = FastOptions();
    o.rejectRate = 0.4;
    o.maxRejects = 98;
    SimRig rig(o);
    rig.SendCommand('E', Text("20"));
    ASSERT_EQ(rig.Read(1), Bytes{0x06});
    const Bytes got = rig.ReadThroughFrame();
    const Bytes f = LastFrame(got);
    ASSERT_EQ(f.size(), 14u);
    const unsigned rejected = (f[10] & 15u) * 10 + (f[11] & 15u);
    ASSERT_EQ(got.size() - f.size(), 3 * rejected);
    for (unsigned i = 0; i < rejected; ++i) {
        EXPECT_EQ(got[3 * i], 0x01);
        EXPECT_EQ(got[3 * i + 1], 0x9C);
    }
    EXPECT_EQ(rig.Sim().Counters().notesDispensed, 0u) << "counted only once acknowledged";
    rig.Send({0x06});
    ASSERT_TRUE(rig.WaitFor([](const SimCounters& c) { return c.responsesAcknowledged == 1; }));
    const SimCounters c = rig.Sim().Counters();
    EXPECT_EQ(c.notesDispensed, 20u);
    EXPECT_EQ(c.notesRejected, rejected);
    EXPECT_EQ(c.noticesSent, rejected);
}

// A small console: sends each command, answers good frames with ACK and bad ones with NAK (at most twice,
// as the console does), and moves on when an answer is cut or withheld. It waits on the counters, never on
// the clock, so the bytes it sees depend on the seed only.
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
    auto readUpTo = [&](uint64_t total) {
        Bytes b;
        if (total > read) b = rig.Read(total - read);
        read = total;
        t.stream.insert(t.stream.end(), b.begin(), b.end());
        since.insert(since.end(), b.begin(), b.end());
    };
    auto decided = [](const SimCounters& c) {
        return c.acksSent + c.naksSent + c.Fault(FaultKind::DropAck) + c.Fault(FaultKind::NoiseAck);
    };
    auto answered = [](const SimCounters& c) {
        return c.responsesSent + c.responsesResent + c.Fault(FaultKind::NoAnswer);
    };
    for (int i = 0; i < 48; ++i) {
        const auto& [cmd, data] = script[static_cast<std::size_t>(i) % script.size()];
        const SimCounters before = rig.Sim().Counters();
        since.clear();
        rig.SendCommand(cmd, Text(data));
        EXPECT_TRUE(rig.WaitFor([&](const SimCounters& c) { return decided(c) > decided(before); }));
        SimCounters c = rig.Sim().Counters();
        readUpTo(c.bytesSent);
        if (c.acksSent == before.acksSent) continue;  // not taken
        uint64_t seen = answered(before);
        for (int transmission = 1;; ++transmission) {
            EXPECT_TRUE(rig.WaitFor([&](const SimCounters& n) { return answered(n) > seen; }));
            c = rig.Sim().Counters();
            seen = answered(c);
            readUpTo(c.bytesSent);  // the whole transmission: the counter moves after it was written
            if (c.Fault(FaultKind::NoAnswer) > before.Fault(FaultKind::NoAnswer)) break;
            const Bytes f = LastFrame(since);
            if (f.size() < 6 || f[f.size() - 2] != 0x03) break;  // cut short: the console gives it up
            if (XorOf(f) == 0) {
                rig.Send({0x06});
                EXPECT_TRUE(rig.WaitFor([&](const SimCounters& n) {
                    return n.responsesAcknowledged > before.responsesAcknowledged;
                }));
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
    EXPECT_EQ(a.counters.commandsExecuted, b.counters.commandsExecuted);
    EXPECT_EQ(a.counters.notesDispensed, b.counters.notesDispensed);
    for (int k = 0; k < kFaultKinds; ++k)
        EXPECT_GT(a.counters.faults[k], 0u) << FaultName(static_cast<FaultKind>(k)) << " never happened";

    o.seed = 2025;
    EXPECT_NE(RunConsole(o).stream, a.stream);
}

}  // namespace
}  // namespace zeda::test
