// The dispense run: validation, frames, pacing, totals, errors, "Cancel", response time, interplay.
#include <gtest/gtest.h>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

const std::string kUpper5 = "04 50 02 45 30 35 03 15";

struct Request {
    bool upper = true, lower = false;
    std::string upperCount = "5", lowerCount = "0", repeat = "1";
};

// Chooses ZEDA2000 (so "LOWER" can be ticked as an operator would), goes to "MENU", fills the
// request and presses "DISPENSE".
void Dispense(TestConsole& c, const Request& r) {
    c.Do("click 1135; tab 1");
    if (r.upper != (c.controls().Checked(1026) == 1)) c.Click(1026);
    if (r.lower != (c.controls().Checked(1027) == 1)) c.Click(1027);
    c.Do("set 1028 " + r.upperCount + "; set 1029 " + r.lowerCount + "; set 1030 " + r.repeat + "; click 1020");
}

uint8_t B(char ch) { return static_cast<uint8_t>(ch); }

// An 'E' or 'U' answer (14 bytes) and a 'V' answer (21 bytes).
Bytes Answer14(uint8_t command, const char* n, uint8_t result = '1', uint8_t empty = '0', const char* rej = "00") {
    return ResponseFrame(command, {'0', '0', B(n[0]), B(n[1]), result, empty, B(rej[0]), B(rej[1])});
}

Bytes Answer21(const char* up, const char* low, uint8_t result = '1', uint8_t upEmpty = '0', uint8_t lowEmpty = '0',
               const char* upRej = "00", const char* lowRej = "00") {
    return ResponseFrame('V', {'0', '0', B(up[0]), B(up[1]), '0', '0', B(low[0]), B(low[1]), result, upEmpty,
                               lowEmpty, B(upRej[0]), B(upRej[1]), B(lowRej[0]), B(lowRej[1])});
}

// ACK now, the answer `answerAfterMs` later.
void AckAndAnswer(TestConsole& c, const Bytes& answer, int64_t answerAfterMs = 200) {
    c.host.Deliver({ACK});
    c.host.Advance(answerAfterMs);
    c.host.Deliver(answer);
}

// The "Executed", "Total" and "Reject" displays as "1/5/0"; with `empties`, then "Upper Empty" and
// "Lower Empty" as in "1/5/0 10".
std::string Counts(TestConsole& c, bool empties = false) {
    const Strings n = c.Texts({1032, 1031, 1137});
    return n[0] + "/" + n[1] + "/" + n[2] + (empties ? " " + c.Checks({1072, 1073}) : "");
}

// After 5 more seconds: "<command frames written> sent <counts> idle|running".
std::string Settled(TestConsole& c) {
    c.host.Advance(5000);
    return std::to_string(c.Frames().size()) + " sent " + Counts(c) + (c.dlg->IsIdle() ? " idle" : " running");
}

}  // namespace

TEST(DispenseRun, RequestValidationAndFrames) {
    // Each request and the frame it writes, or else "<Status pane>|<box text>".
    const std::string cond = "|Request Condition Error", upper = "Upper Dispense Count Error\n\r";
    const std::pair<Request, std::string> cases[] = {
        {{}, kUpper5},
        {{.lower = true, .upperCount = "10", .lowerCount = "20"}, "04 50 02 56 31 30 32 30 03 00"},  // BCC 00
        {{.lower = true, .upperCount = "3", .lowerCount = "12"}, "04 50 02 56 30 33 31 32 03 03"},
        {{.upper = false, .lower = true, .lowerCount = "7"}, "04 50 02 55 30 37 03 07"},
        {{.upperCount = "60"}, "04 50 02 45 36 30 03 16"},
        {{.upperCount = ""}, "04 50 02 45 30 30 03 10"},
        {{.repeat = "999"}, kUpper5},
        {{.upperCount = "61"}, "61\n\r" + cond},
        {{.upperCount = "123"}, upper + cond},
        {{.upper = false, .lower = true, .lowerCount = "100"}, upper + cond},
        {{.upper = false, .lower = true, .lowerCount = "75"}, "75\n\r" + cond},
        {{.lower = true, .upperCount = "10", .lowerCount = "99"}, "99\n\r" + cond},
        {{.upper = false}, cond},
        {{.repeat = ""}, upper + "|Repeat Count Error"},
        {{.repeat = "1000"}, upper + "|Repeat Count Error"},
    };
    for (const auto& [request, outcome] : cases) {
        SCOPED_TRACE(outcome);
        TestConsole c;
        c.Type(1004, "left over");  // the click empties the Status pane first
        Dispense(c, request);
        const bool sent = outcome.rfind("04 50", 0) == 0;
        const size_t bar = outcome.find('|');
        EXPECT_EQ(c.Frames(), sent ? Strings{outcome} : Strings{});
        EXPECT_EQ(c.Status(), sent ? "" : outcome.substr(0, bar));
        EXPECT_EQ(c.Boxes(), sent ? Strings{} : Strings{"Error" + outcome.substr(bar)});
        EXPECT_EQ(c.link().state, sent ? LinkState::AwaitAck : LinkState::Idle);
        EXPECT_EQ(c.link().busy, sent ? 1 : 0);
        EXPECT_EQ(c.host.TimerDue(TIMER_ACK), sent ? c.host.now + 1000 : -1);  // 1000 ms for the first cycle
        EXPECT_EQ(Counts(c), "0/0/0");
    }
}

TEST(DispenseRun, RunOfThreeIsPacedAndCounted) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    int64_t decodedAt = 0;
    for (size_t cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        auto w = c.CommandWrites();
        ASSERT_EQ(w.size(), cycle);
        EXPECT_EQ(Hex(w.back().bytes), kUpper5);
        if (cycle > 1) {
            EXPECT_EQ(w.back().atMs, decodedAt + 500);
        }
        c.host.Advance(100);
        AckAndAnswer(c, Answer14('E', "05", '1', '0', "01"), 300);
        decodedAt = c.host.now;
        const std::string n = std::to_string(cycle);
        EXPECT_EQ(Counts(c), n + "/" + std::to_string(5 * cycle) + "/" + n);
        c.host.Advance(499);
        EXPECT_EQ(c.Frames().size(), cycle);  // nothing before the pause is over
        c.host.Advance(1);
    }
    EXPECT_EQ(Settled(c), "3 sent 3/15/3 idle");
    EXPECT_TRUE(c.host.boxes.empty());

    TestConsole zero;  // a repeat count of 0 sends one cycle
    Dispense(zero, {.upperCount = "02", .repeat = "0"});
    AckAndAnswer(zero, Answer14('E', "02"));
    EXPECT_EQ(Settled(zero), "1 sent 1/2/0 idle");
}

TEST(DispenseRun, FurtherCycleWaits1000MsForItsAckAndGivesUpWithoutOne) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    c.host.Advance(100);
    AckAndAnswer(c, Answer14('E', "05"), 100);
    EXPECT_EQ(c.host.TimerDue(TIMER_REPEAT), 700);
    c.host.Advance(500);
    EXPECT_EQ(c.TimedWrites(), (Strings{"0: " + kUpper5, "200: 06", "700: " + kUpper5}));
    EXPECT_EQ(c.link().state, LinkState::AwaitAck);
    EXPECT_EQ(c.link().busy, 1);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1700);
    // Resent on expiry instead of hanging the link; after three resends the give-up ends the run.
    c.host.Advance(1000);
    EXPECT_EQ(c.TimedWrites().back(), "1700: " + kUpper5);
    c.host.Advance(20000);
    EXPECT_EQ(c.Boxes(), Strings{"Error|TimeOut : Receive Ack"});
    EXPECT_EQ(c.link().busy, 0);
    EXPECT_EQ(Settled(c), "5 sent 1/5/0 idle");
    c.Click(1051);  // a guarded command can be sent again
    EXPECT_EQ(c.Frames().size(), 6u);
}

TEST(DispenseRun, CancelLetsTheOutstandingCycleCount) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "5"});
    AckAndAnswer(c, Answer14('E', "05"));
    c.host.Advance(500);
    ASSERT_EQ(c.Frames().size(), 2u);
    c.Click(1022);  // "Cancel" while cycle 2 is outstanding
    AckAndAnswer(c, Answer14('E', "04"));
    EXPECT_EQ(Settled(c), "2 sent 2/9/0 idle");
    EXPECT_EQ(c.controls().Text(1030), "5");  // kept for the next "DISPENSE"

    // "Cancel" during a pause: the armed pause ends without sending.
    TestConsole d;
    Dispense(d, {.upperCount = "05", .repeat = "5"});
    AckAndAnswer(d, Answer14('E', "05"));
    d.Do("wait 100; click 1022");
    EXPECT_EQ(Settled(d), "1 sent 1/5/0 idle");
}

TEST(DispenseRun, ModuleErrorStopsTheRunAfterCountingIt) {
    const std::pair<uint8_t, std::string> cases[] = {
        {0x3A, "Misnatch CRI to EJECT \n CODE[3A]"}, {0x32, "Pickup Error\n CODE[32]"},
        {0x68, "Reserved \n CODE[68]"},              {'0', "Unknown Error \n CODE[30]"},
        {0x78, "Unknown Error \n CODE[78]"},         {0x85, "Unknown Error \n CODE[85]"},
    };
    for (const auto& [code, text] : cases) {
        SCOPED_TRACE(text);
        TestConsole c;
        Dispense(c, {.upperCount = "05", .repeat = "5"});
        AckAndAnswer(c, Answer14('E', "05", '1', '0', "01"));
        c.host.Advance(500);
        ASSERT_EQ(c.Frames().size(), 2u);
        const std::string messageBefore = c.Message();
        std::string countsInBox;  // the answer's counts are shown after the box
        c.host.onBox = [&](const Box&) { countsInBox = Counts(c); };
        const Bytes answer = Answer14('E', "03", code, '0', "02");
        AckAndAnswer(c, answer);
        EXPECT_EQ(c.Boxes(), Strings{"ERROR CODE|" + text});
        EXPECT_EQ(countsInBox, "1/5/1");
        EXPECT_EQ(c.Message(), messageBefore + "\r\n" + LowerHex(answer));
        EXPECT_EQ(Settled(c), "2 sent 2/8/3 idle");
    }

    // A 'V' answer with an error dumps all 21 bytes.
    TestConsole c;
    Dispense(c, {.lower = true, .upperCount = "05", .lowerCount = "05", .repeat = "3"});
    const std::string messageBefore = c.Message();
    const Bytes answer = Answer21("02", "01", 0x40, '0', '1', "01", "00");
    ASSERT_EQ(answer.size(), 21u);
    AckAndAnswer(c, answer);
    EXPECT_EQ(c.Boxes(), Strings{"ERROR CODE|BILL End LOWER \n CODE[40]"});
    EXPECT_EQ(c.Message(), messageBefore + "\r\n" + LowerHex(answer));
    EXPECT_EQ(c.controls().Checked(1073), 1);
    EXPECT_EQ(Settled(c), "1 sent 1/3/1 idle");
}

TEST(DispenseRun, TotalsAndEmptyIndicators) {
    TestConsole c;
    Dispense(c, {.lower = true, .upperCount = "05", .lowerCount = "07", .repeat = "4"});
    AckAndAnswer(c, Answer21("05", "07", '1', '1', '1', "01", "02"));
    EXPECT_EQ(Counts(c, true), "1/12/3 11");
    // '0' clears the upper indicator, any other byte leaves the lower one.
    c.host.Advance(500);
    AckAndAnswer(c, Answer21("05", "07", '1', '0', 'x'));
    EXPECT_EQ(Counts(c, true), "2/24/3 01");
    // An answer of another length is a success that adds nothing.
    c.host.Advance(500);
    AckAndAnswer(c, ResponseFrame('V', {'0', '0', '9', '9'}));
    EXPECT_EQ(Counts(c), "3/24/3");
    EXPECT_TRUE(c.host.boxes.empty());
    c.host.Advance(500);
    EXPECT_EQ(c.Frames().size(), 4u);

    // 'E' answers move "Upper Empty", 'U' answers "Lower Empty".
    TestConsole e;
    Dispense(e, {.upperCount = "01"});
    AckAndAnswer(e, Answer14('E', "01", '1', '1'));
    EXPECT_EQ(Counts(e, true), "1/1/0 10");
    TestConsole u;
    Dispense(u, {.upper = false, .lower = true, .lowerCount = "01"});
    AckAndAnswer(u, Answer14('U', "01", '1', '1', "04"));
    EXPECT_EQ(Counts(u, true), "1/1/4 01");
}

TEST(DispenseRun, NewDispenseResetsTheRunAndTheRejectMarks) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    AckAndAnswer(c, Answer14('E', "05", '1', '0', "02"));
    c.host.Deliver({SOH, 0x9C, '<'});  // a notice cut off after three bytes marks a reject reason
    c.host.Advance(150);
    EXPECT_EQ(c.controls().Checked(1119), 1);
    EXPECT_EQ(Counts(c), "1/5/2");

    // "DISPENSE" during the pause: the pending cycle is not sent, the displays restart.
    c.Do("set 1028 03; set 1030 1; click 1020");
    EXPECT_EQ(c.Frames(), (Strings{kUpper5, "04 50 02 45 30 33 03 13"}));
    EXPECT_EQ(Counts(c), "0/0/0");
    EXPECT_EQ(c.controls().Checked(1119), 0);
    AckAndAnswer(c, Answer14('E', "03", '1', '0', "01"), 1000);
    EXPECT_EQ(Settled(c), "2 sent 1/3/1 idle");
}

TEST(DispenseRun, DispenseWhileOutstandingOnlyEmptiesTheStatusPaneAndPurgeInThePauseIsSentNext) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "2"});
    c.Do("wait 400; set 1004 something; set 1028 09; click 1020");
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(c.Frames().size(), 1u);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1000);
    EXPECT_TRUE(c.host.boxes.empty());
    AckAndAnswer(c, Answer14('E', "05"));  // the run goes on as before
    c.host.Advance(500);
    EXPECT_EQ(c.Frames(), (Strings{kUpper5, kUpper5}));

    // "Purge" during the pause (the busy flag is clear then) becomes the next cycle's frame.
    TestConsole p;
    Dispense(p, {.upperCount = "05", .repeat = "3"});
    AckAndAnswer(p, Answer14('E', "05"));
    p.Do("wait 100; click 1051");
    EXPECT_EQ(p.Frames(), (Strings{kUpper5, "04 50 02 44 03 11"}));
    p.host.Advance(400);  // the pause ends: the stored frame is now Purge's
    EXPECT_EQ(p.Frames(), (Strings{kUpper5, "04 50 02 44 03 11", "04 50 02 44 03 11"}));
    AckAndAnswer(p, ResponseFrame('D', {'0'}));
    EXPECT_EQ(p.Status(), "RESET\r\n");
    EXPECT_EQ(Settled(p), "3 sent 1/5/0 idle");
}

TEST(DispenseRun, ResponseTime) {
    // Ticked before "DISPENSE": each cycle is timed from its own write.
    TestConsole c;
    c.Do("tab 1; click 1068");
    Dispense(c, {.upperCount = "05", .repeat = "2"});
    c.host.Advance(300);
    AckAndAnswer(c, Answer14('E', "05"), 2000);
    EXPECT_EQ(c.Status(), "R TIME = 2 \r\n");
    c.host.Advance(500);
    AckAndAnswer(c, Answer14('E', "05"), 1200);
    EXPECT_EQ(c.Status(), "R TIME = 2 \r\nR TIME = 1 \r\n");

    struct Case {
        int64_t localBase;
        int tickedMsAfterWrite;  // -1: before "DISPENSE"; -2: never
        int64_t answerMsAfterWrite;
        const char* status;
    };
    for (const Case& k : {Case{86399, -1, 2500, "R TIME = 2 \r\n"},  // across midnight
                          Case{36000, 1000, 3200, "R TIME = 3 \r\n"}, Case{36000, -2, 2200, ""}}) {
        SCOPED_TRACE(k.status);
        TestConsole d;
        d.host.localBaseSeconds = k.localBase;
        if (k.tickedMsAfterWrite == -1) d.Do("tab 1; click 1068");
        Dispense(d, {.upperCount = "05"});
        const int64_t ackAt = k.tickedMsAfterWrite >= 0 ? k.tickedMsAfterWrite : 0;
        d.host.Advance(ackAt);
        if (k.tickedMsAfterWrite >= 0) d.Click(1068);
        AckAndAnswer(d, Answer14('E', "05"), k.answerMsAfterWrite - ackAt);
        EXPECT_EQ(d.Status(), k.status);
    }
}

TEST(DispenseRun, LowerTickedBeforeSwitchingToZeda1000StillCounts) {
    for (bool upper : {false, true}) {
        TestConsole c;
        c.Do("click 1135; tab 1");
        if (upper) c.Click(1026);
        c.Do("click 1027; click 1134");  // "LOWER" ticked while enabled, then back to ZEDA1000
        EXPECT_EQ(c.Enabled({1027}) + c.Checks({1027}), "01");  // disabled, but still ticked
        c.Do("set 1028 01; set 1029 04; click 1020");
        EXPECT_EQ(c.Frames(), Strings{upper ? "04 50 02 56 30 31 30 34 03 06" : "04 50 02 55 30 34 03 04"});
    }
}
