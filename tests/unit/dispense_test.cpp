// The dispense run on the "MENU" page: request validation, the frames, the pacing of the cycles
// on the virtual clock, the totals and empty indicators, module errors, "Cancel", the response
// time, and what other buttons do to a run.
#include <gtest/gtest.h>

#include <cstdio>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

struct Request {
    bool upper = true;
    bool lower = false;
    std::string upperCount = "5";
    std::string lowerCount = "0";
    std::string repeat = "1";
};

// Frames written by the console, without its one-byte ACK/NAK replies.
std::vector<Write> CommandWrites(const TestConsole& c) {
    std::vector<Write> out;
    for (const Write& w : c.channel->writes)
        if (w.bytes.size() > 1) out.push_back(w);
    return out;
}

// Chooses ZEDA2000 (so "LOWER" can be ticked as an operator would), goes to "MENU", fills the
// request and presses "DISPENSE".
void Dispense(TestConsole& c, const Request& r, bool zeda2000 = true) {
    if (zeda2000) c.Click(1135);
    c.Tab(1);
    if (r.upper != (c.controls().Checked(1026) == 1)) c.Click(1026);
    if (r.lower != (c.controls().Checked(1027) == 1)) c.Click(1027);
    c.Type(1028, r.upperCount);
    c.Type(1029, r.lowerCount);
    c.Type(1030, r.repeat);
    c.Click(1020);
}

// An 'E' or 'U' answer: 14 bytes.
Bytes Answer14(uint8_t command, const char* dispensed, uint8_t result = '1', uint8_t empty = '0',
               const char* rejected = "00") {
    return ResponseFrame(command, {'0', '0', static_cast<uint8_t>(dispensed[0]), static_cast<uint8_t>(dispensed[1]),
                                   result, empty, static_cast<uint8_t>(rejected[0]),
                                   static_cast<uint8_t>(rejected[1])});
}

// A 'V' answer: 21 bytes.
Bytes Answer21(const char* upper, const char* lower, uint8_t result = '1', uint8_t upperEmpty = '0',
               uint8_t lowerEmpty = '0', const char* upperRejected = "00", const char* lowerRejected = "00") {
    auto b = [](char ch) { return static_cast<uint8_t>(ch); };
    return ResponseFrame('V', {'0', '0', b(upper[0]), b(upper[1]), '0', '0', b(lower[0]), b(lower[1]), result,
                               upperEmpty, lowerEmpty, b(upperRejected[0]), b(upperRejected[1]),
                               b(lowerRejected[0]), b(lowerRejected[1])});
}

void Ack(TestConsole& c) { c.host.Deliver({ACK}); }

// ACK now, the answer `answerAfterMs` later.
void AckAndAnswer(TestConsole& c, const Bytes& answer, int64_t answerAfterMs = 200) {
    Ack(c);
    c.host.Advance(answerAfterMs);
    c.host.Deliver(answer);
}

std::string HexLower(const Bytes& b) {
    std::string s;
    char h[4];
    for (uint8_t x : b) {
        std::snprintf(h, sizeof h, " %02x", x);
        s += h;
    }
    return s;
}

}  // namespace

TEST(DispenseRun, FramesCarryTheRequestDigits) {
    {
        TestConsole c;
        Dispense(c, {.upper = true, .upperCount = "5"});
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0].bytes), "04 50 02 45 30 35 03 15");
        // The first cycle waits 1000 ms for its ACK.
        EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 1000);
        EXPECT_EQ(c.dlg->GetLink().state, LinkState::AwaitAck);
        EXPECT_EQ(c.dlg->GetLink().busy, 1);
    }
    {
        TestConsole c;
        Dispense(c, {.upper = true, .lower = true, .upperCount = "10", .lowerCount = "20"});
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0].bytes), "04 50 02 56 31 30 32 30 03 00");
    }
    {
        TestConsole c;
        Dispense(c, {.upper = false, .lower = true, .lowerCount = "7"});
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0].bytes), "04 50 02 55 30 37 03 07");
    }
}

TEST(DispenseRun, RequestValidation) {
    struct Case {
        const char* name;
        Request request;
        bool sent;
        std::string status;
        std::string box;  // empty: none
        std::string frame;
    };
    const Case cases[] = {
        {"sixty passes", {.upperCount = "60"}, true, "", "", "04 50 02 45 36 30 03 16"},
        {"sixty-one refused", {.upperCount = "61"}, false, "61\n\r", "Request Condition Error", ""},
        {"three characters", {.upperCount = "123"}, false, "Upper Dispense Count Error\n\r",
         "Request Condition Error", ""},
        {"empty upper is 00", {.upperCount = ""}, true, "", "", "04 50 02 45 30 30 03 10"},
        {"lower with three characters", {.upper = false, .lower = true, .lowerCount = "100"}, false,
         "Upper Dispense Count Error\n\r", "Request Condition Error", ""},
        {"lower above sixty", {.upper = false, .lower = true, .lowerCount = "75"}, false, "75\n\r",
         "Request Condition Error", ""},
        {"both, lower above sixty", {.upper = true, .lower = true, .upperCount = "10", .lowerCount = "99"}, false,
         "99\n\r", "Request Condition Error", ""},
        {"nothing ticked", {.upper = false, .lower = false}, false, "", "Request Condition Error", ""},
        {"empty repeat", {.repeat = ""}, false, "Upper Dispense Count Error\n\r", "Repeat Count Error", ""},
        {"repeat 1000", {.repeat = "1000"}, false, "Upper Dispense Count Error\n\r", "Repeat Count Error", ""},
        {"repeat 999", {.repeat = "999"}, true, "", "", "04 50 02 45 30 35 03 15"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestConsole c;
        c.Type(1004, "left over");  // the click empties the Status pane first
        Dispense(c, k.request);
        auto w = CommandWrites(c);
        EXPECT_EQ(c.Status(), k.status);
        if (k.sent) {
            ASSERT_EQ(w.size(), 1u);
            EXPECT_EQ(Hex(w[0].bytes), k.frame);
            EXPECT_TRUE(c.host.boxes.empty());
        } else {
            EXPECT_TRUE(w.empty());
            ASSERT_EQ(c.host.boxes.size(), 1u);
            EXPECT_EQ(c.host.boxes[0].text, k.box);
            EXPECT_EQ(c.host.boxes[0].caption, "Error");
            EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
            EXPECT_EQ(c.dlg->GetLink().busy, 0);
            EXPECT_FALSE(c.host.TimerArmed(TIMER_ACK));
            // The displays keep their values.
            EXPECT_EQ(c.controls().Text(1031), "0");
            EXPECT_EQ(c.controls().Text(1032), "0");
        }
    }
}

TEST(DispenseRun, RepeatZeroSendsOneCycle) {
    TestConsole c;
    Dispense(c, {.upperCount = "02", .repeat = "0"});
    AckAndAnswer(c, Answer14('E', "02"));
    c.host.Advance(5000);
    EXPECT_EQ(CommandWrites(c).size(), 1u);
    EXPECT_EQ(c.controls().Text(1032), "1");
    EXPECT_EQ(c.controls().Text(1031), "2");
    EXPECT_TRUE(c.dlg->IsIdle());
}

TEST(DispenseRun, RunOfThreeIsPacedAndCounted) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    std::vector<int64_t> decodedAt;
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), static_cast<size_t>(cycle));
        EXPECT_EQ(Hex(w.back().bytes), "04 50 02 45 30 35 03 15");
        if (cycle > 1) {
            EXPECT_EQ(w.back().atMs, decodedAt.back() + 500);
        }
        // Nothing goes out before the pause is over.
        c.host.Advance(100);
        AckAndAnswer(c, Answer14('E', "05", '1', '0', "01"), 300);
        decodedAt.push_back(c.host.now);
        EXPECT_EQ(c.controls().Text(1032), std::to_string(cycle));
        EXPECT_EQ(c.controls().Text(1031), std::to_string(5 * cycle));
        EXPECT_EQ(c.controls().Text(1137), std::to_string(cycle));
        c.host.Advance(499);
        EXPECT_EQ(CommandWrites(c).size(), static_cast<size_t>(cycle));
        c.host.Advance(1);
    }
    c.host.Advance(10000);
    EXPECT_EQ(CommandWrites(c).size(), 3u);
    EXPECT_EQ(c.controls().Text(1032), "3");
    EXPECT_TRUE(c.dlg->IsIdle());
    EXPECT_TRUE(c.host.boxes.empty());
}

TEST(DispenseRun, CancelLetsTheOutstandingCycleCount) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "5"});
    AckAndAnswer(c, Answer14('E', "05"));
    c.host.Advance(500);  // cycle 2 goes out
    ASSERT_EQ(CommandWrites(c).size(), 2u);
    c.Click(1022);  // "Cancel" while cycle 2 is outstanding
    AckAndAnswer(c, Answer14('E', "04"));
    EXPECT_EQ(c.controls().Text(1032), "2");
    EXPECT_EQ(c.controls().Text(1031), "9");
    c.host.Advance(5000);
    EXPECT_EQ(CommandWrites(c).size(), 2u);
    // The box keeps its text, which the next "DISPENSE" reads again.
    EXPECT_EQ(c.controls().Text(1030), "5");
    EXPECT_TRUE(c.dlg->IsIdle());

    // "Cancel" during a pause: the armed pause ends without sending.
    TestConsole d;
    Dispense(d, {.upperCount = "05", .repeat = "5"});
    AckAndAnswer(d, Answer14('E', "05"));
    d.host.Advance(100);
    d.Click(1022);
    d.host.Advance(5000);
    EXPECT_EQ(CommandWrites(d).size(), 1u);
    EXPECT_EQ(d.controls().Text(1032), "1");
}

TEST(DispenseRun, ModuleErrorStopsTheRunAfterCountingIt) {
    struct Case {
        uint8_t code;
        std::string text;
    };
    const Case cases[] = {
        {0x3A, "Misnatch CRI to EJECT \n CODE[3A]"},
        {0x32, "Pickup Error\n CODE[32]"},
        {0x68, "Reserved \n CODE[68]"},
        {'0', "Unknown Error \n CODE[30]"},
        {0x78, "Unknown Error \n CODE[78]"},
        {0x85, "Unknown Error \n CODE[85]"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text);
        TestConsole c;
        Dispense(c, {.upperCount = "05", .repeat = "5"});
        AckAndAnswer(c, Answer14('E', "05", '1', '0', "01"));
        c.host.Advance(500);
        ASSERT_EQ(CommandWrites(c).size(), 2u);
        const std::string messageBefore = c.Message();
        // While the box is open the answer's counts are not yet shown.
        std::string executedWhileOpen, totalWhileOpen;
        c.host.onBox = [&](const Box&) {
            executedWhileOpen = c.controls().Text(1032);
            totalWhileOpen = c.controls().Text(1031);
        };
        const Bytes answer = Answer14('E', "03", k.code, '0', "02");
        AckAndAnswer(c, answer);
        ASSERT_EQ(c.host.boxes.size(), 1u);
        EXPECT_EQ(c.host.boxes[0].text, k.text);
        EXPECT_EQ(c.host.boxes[0].caption, "ERROR CODE");
        EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
        EXPECT_EQ(executedWhileOpen, "1");
        EXPECT_EQ(totalWhileOpen, "5");
        EXPECT_EQ(c.controls().Text(1032), "2");
        EXPECT_EQ(c.controls().Text(1031), "8");
        EXPECT_EQ(c.controls().Text(1137), "3");
        EXPECT_EQ(c.Message(), messageBefore + "\r\n" + HexLower(answer));
        c.host.Advance(5000);
        EXPECT_EQ(CommandWrites(c).size(), 2u);
        EXPECT_TRUE(c.dlg->IsIdle());
    }

    // A 'V' answer with an error dumps all 21 bytes.
    TestConsole c;
    Dispense(c, {.upper = true, .lower = true, .upperCount = "05", .lowerCount = "05", .repeat = "3"});
    const std::string messageBefore = c.Message();
    const Bytes answer = Answer21("02", "01", 0x40, '0', '1', "01", "00");
    AckAndAnswer(c, answer);
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "BILL End LOWER \n CODE[40]");
    EXPECT_EQ(c.Message(), messageBefore + "\r\n" + HexLower(answer));
    EXPECT_EQ(answer.size(), 21u);
    EXPECT_EQ(c.controls().Text(1031), "3");
    EXPECT_EQ(c.controls().Text(1137), "1");
    EXPECT_EQ(c.controls().Checked(1073), 1);
    c.host.Advance(5000);
    EXPECT_EQ(CommandWrites(c).size(), 1u);
}

TEST(DispenseRun, TotalsAndEmptyIndicators) {
    TestConsole c;
    Dispense(c, {.upper = true, .lower = true, .upperCount = "05", .lowerCount = "07", .repeat = "4"});
    // Cycle 1: both indicators '1'.
    AckAndAnswer(c, Answer21("05", "07", '1', '1', '1', "01", "02"));
    EXPECT_EQ(c.controls().Text(1031), "12");
    EXPECT_EQ(c.controls().Text(1137), "3");
    EXPECT_EQ(c.controls().Checked(1072), 1);
    EXPECT_EQ(c.controls().Checked(1073), 1);
    // Cycle 2: '0' clears the upper one, any other byte leaves the lower one.
    c.host.Advance(500);
    AckAndAnswer(c, Answer21("05", "07", '1', '0', 'x'));
    EXPECT_EQ(c.controls().Text(1031), "24");
    EXPECT_EQ(c.controls().Text(1137), "3");
    EXPECT_EQ(c.controls().Checked(1072), 0);
    EXPECT_EQ(c.controls().Checked(1073), 1);
    // Cycle 3: an answer of another length is a success that adds nothing.
    c.host.Advance(500);
    AckAndAnswer(c, ResponseFrame('V', {'0', '0', '9', '9'}));
    EXPECT_EQ(c.controls().Text(1031), "24");
    EXPECT_EQ(c.controls().Text(1032), "3");
    EXPECT_TRUE(c.host.boxes.empty());
    c.host.Advance(500);
    EXPECT_EQ(CommandWrites(c).size(), 4u);

    // 'E' answers move "Upper Empty", 'U' answers "Lower Empty".
    TestConsole e;
    Dispense(e, {.upperCount = "01"});
    AckAndAnswer(e, Answer14('E', "01", '1', '1'));
    EXPECT_EQ(e.controls().Checked(1072), 1);
    EXPECT_EQ(e.controls().Checked(1073), 0);
    TestConsole u;
    Dispense(u, {.upper = false, .lower = true, .lowerCount = "01"});
    AckAndAnswer(u, Answer14('U', "01", '1', '1', "04"));
    EXPECT_EQ(u.controls().Checked(1072), 0);
    EXPECT_EQ(u.controls().Checked(1073), 1);
    EXPECT_EQ(u.controls().Text(1137), "4");
}

TEST(DispenseRun, NewDispenseResetsTheRunAndTheRejectMarks) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    AckAndAnswer(c, Answer14('E', "05", '1', '0', "02"));
    // A notice cut off after three bytes marks a reject reason.
    c.host.Deliver({SOH, 0x9C, '<'});
    c.host.Advance(150);
    EXPECT_EQ(c.controls().Checked(1119), 1);
    EXPECT_EQ(c.controls().Text(1031), "5");
    ASSERT_EQ(CommandWrites(c).size(), 1u);

    // "DISPENSE" during the pause: the pending cycle is not sent, the displays restart.
    c.Type(1028, "03");
    c.Type(1030, "1");
    c.Click(1020);
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(Hex(w[1].bytes), "04 50 02 45 30 33 03 13");
    EXPECT_EQ(c.controls().Text(1031), "0");
    EXPECT_EQ(c.controls().Text(1032), "0");
    EXPECT_EQ(c.controls().Text(1137), "0");
    EXPECT_EQ(c.controls().Checked(1119), 0);
    Ack(c);
    c.host.Advance(1000);
    EXPECT_EQ(CommandWrites(c).size(), 2u);
    c.host.Deliver(Answer14('E', "03", '1', '0', "01"));
    EXPECT_EQ(c.controls().Text(1031), "3");
    EXPECT_EQ(c.controls().Text(1137), "1");
    EXPECT_EQ(c.controls().Text(1032), "1");
    c.host.Advance(5000);
    EXPECT_EQ(CommandWrites(c).size(), 2u);
}

TEST(DispenseRun, DispenseWhileOutstandingOnlyEmptiesTheStatusPane) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "2"});
    c.host.Advance(400);
    const int64_t ackDue = c.host.TimerDue(TIMER_ACK);
    c.Type(1004, "something");
    c.Type(1028, "09");
    c.Click(1020);
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(CommandWrites(c).size(), 1u);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), ackDue);
    EXPECT_TRUE(c.host.boxes.empty());
    // The run goes on as before.
    AckAndAnswer(c, Answer14('E', "05"));
    c.host.Advance(500);
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(Hex(w[1].bytes), "04 50 02 45 30 35 03 15");
}

TEST(DispenseRun, PurgeDuringThePauseBecomesTheNextCyclesFrame) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    AckAndAnswer(c, Answer14('E', "05"));
    c.host.Advance(100);
    c.Click(1051);  // "Purge": the busy flag is clear during the pause
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(Hex(w[1].bytes), "04 50 02 44 03 11");
    c.host.Advance(400);  // the pause ends: the stored frame is now Purge's
    w = CommandWrites(c);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(Hex(w[2].bytes), "04 50 02 44 03 11");
    AckAndAnswer(c, ResponseFrame('D', {'0'}));
    EXPECT_EQ(c.Status(), "RESET\r\n");
    EXPECT_EQ(c.controls().Text(1032), "1");
    c.host.Advance(5000);
    EXPECT_EQ(CommandWrites(c).size(), 3u);
}

TEST(DispenseRun, ResponseTime) {
    // Ticked before "DISPENSE"; answered 2.3 s after the write.
    {
        TestConsole c;
        c.Tab(1);
        c.Click(1068);
        Dispense(c, {.upperCount = "05", .repeat = "2"});
        c.host.Advance(300);
        AckAndAnswer(c, Answer14('E', "05"), 2000);
        EXPECT_EQ(c.Status(), "R TIME = 2 \r\n");
        // The second cycle is timed from its own write.
        c.host.Advance(500);
        AckAndAnswer(c, Answer14('E', "05"), 1200);
        EXPECT_EQ(c.Status(), "R TIME = 2 \r\nR TIME = 1 \r\n");
    }
    // Sent before midnight, answered after it.
    {
        TestConsole c;
        c.host.localBaseSeconds = 86399;
        c.Tab(1);
        c.Click(1068);
        Dispense(c, {.upperCount = "05"});
        AckAndAnswer(c, Answer14('E', "05"), 2500);
        EXPECT_EQ(c.Status(), "R TIME = 2 \r\n");
    }
    // Ticked only after the write.
    {
        TestConsole c;
        Dispense(c, {.upperCount = "05"});
        c.host.Advance(1000);
        c.Click(1068);
        AckAndAnswer(c, Answer14('E', "05"), 2200);
        EXPECT_EQ(c.Status(), "R TIME = 3 \r\n");
    }
    // Not ticked: no line.
    {
        TestConsole c;
        Dispense(c, {.upperCount = "05"});
        AckAndAnswer(c, Answer14('E', "05"), 2200);
        EXPECT_EQ(c.Status(), "");
    }
}

TEST(DispenseRun, FurtherCycleWithoutAckGivesUp) {
    TestConsole c;
    Dispense(c, {.upperCount = "05", .repeat = "3"});
    AckAndAnswer(c, Answer14('E', "05"));
    c.host.Advance(500);
    ASSERT_EQ(CommandWrites(c).size(), 2u);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 1000);
    c.host.Advance(20000);
    // The cycle and its three resends, then the give-up; the run ends.
    auto w = CommandWrites(c);
    EXPECT_EQ(w.size(), 5u);
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "TimeOut : Receive Ack");
    EXPECT_EQ(c.host.boxes[0].caption, "Error");
    EXPECT_EQ(c.dlg->GetLink().busy, 0);
    EXPECT_EQ(c.controls().Text(1032), "1");
    EXPECT_TRUE(c.dlg->IsIdle());
    // A guarded command can be sent again.
    c.Click(1051);
    EXPECT_EQ(CommandWrites(c).size(), 6u);
}

TEST(DispenseRun, LowerTickedBeforeSwitchingToZeda1000StillCounts) {
    TestConsole c;
    c.Click(1135);
    c.Tab(1);
    c.Click(1027);  // "LOWER" while it is enabled
    c.Click(1134);  // back to ZEDA1000: "LOWER" is disabled but stays ticked
    EXPECT_FALSE(c.controls().IsEnabled(1027));
    EXPECT_EQ(c.controls().Checked(1027), 1);
    c.Type(1029, "04");
    c.Click(1020);
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(Hex(w[0].bytes), "04 50 02 55 30 34 03 04");

    TestConsole d;
    d.Click(1135);
    d.Tab(1);
    d.Click(1026);
    d.Click(1027);
    d.Click(1134);
    d.Type(1028, "01");
    d.Type(1029, "02");
    d.Click(1020);
    w = CommandWrites(d);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].bytes[3], 'V');
}
