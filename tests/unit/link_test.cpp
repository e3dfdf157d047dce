// The link state machine on the virtual clock: ACK wait with resends and give-ups, response wait,
// frame collection with BCC check, ACK/NAK, unfinished frames, the busy flag, reassembly of any
// split of the byte stream, and what a modal box holds back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

const std::string kStatusFrame = "04 50 02 46 03 13";

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

Bytes WithBadBcc(Bytes frame) {
    frame.back() ^= 0x5A;
    return frame;
}

// " %02x" of every byte, as the Message pane shows a raw frame, without the line break.
std::string RawText(const Bytes& b) {
    std::string s;
    char h[4];
    for (uint8_t x : b) {
        std::snprintf(h, sizeof h, " %02x", x);
        s += h;
    }
    return s;
}

// Every write as "time: hex".
std::vector<std::string> TimedWrites(const TestConsole& c) {
    std::vector<std::string> out;
    for (const Write& w : c.channel->writes) out.push_back(std::to_string(w.atMs) + ": " + Hex(w.bytes));
    return out;
}

const Bytes kStatusAnswer = ResponseFrame('F', {'0', 0x00, 0x41, 0x02});
const std::string kStatusLine = "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n";
const Bytes kSpeedAnswer = ResponseFrame('b', {'0', '1', '2', '3'});  // " 291 "

const Link& L(TestConsole& c) { return c.dlg->GetLink(); }

}  // namespace

TEST(Link, NoReplyResendsEveryTwoSecondsThenTimesOutAtEight) {
    TestConsole c;
    c.channel->writes.clear();
    c.Click(1050);
    int countInBox = -1;
    LinkState stateInBox = LinkState::AwaitAck;
    c.host.onBox = [&](const Box&) {
        countInBox = L(c).ackTimeoutCount;
        stateInBox = L(c).state;
    };

    c.host.Advance(7999);
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: " + kStatusFrame, "2000: " + kStatusFrame,
                                                        "4000: " + kStatusFrame, "6000: " + kStatusFrame}));
    EXPECT_TRUE(c.host.boxes.empty());
    EXPECT_EQ(L(c).busy, 1);
    EXPECT_EQ(L(c).state, LinkState::AwaitAck);

    c.host.Advance(1);
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "TimeOut : Receive Ack");
    EXPECT_EQ(c.host.boxes[0].caption, "Error");
    EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(c.host.boxes[0].atMs, 8000);
    EXPECT_EQ(c.channel->writes.size(), 4u);
    // The state is Idle while the box is open; the counter is cleared only after it is closed.
    EXPECT_EQ(stateInBox, LinkState::Idle);
    EXPECT_EQ(countInBox, 4);
    EXPECT_EQ(L(c).ackTimeoutCount, 0);
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_FALSE(c.host.TimerArmed(TIMER_ACK));

    // A give-up leaves the console usable, with the whole retry budget again.
    c.Click(1050);
    EXPECT_EQ(c.channel->writes.size(), 5u);
    c.host.Advance(7999);
    EXPECT_EQ(c.host.boxes.size(), 1u);
    c.host.Advance(1);
    EXPECT_EQ(c.host.boxes.size(), 2u);
    EXPECT_EQ(c.channel->writes.size(), 8u);
}

TEST(Link, AcknowledgedButNeverAnsweredTimesOut122SecondsAfterTheAck) {
    TestConsole c;
    c.channel->writes.clear();
    c.Click(1050);
    c.host.Advance(300);
    c.host.Deliver({ACK});
    EXPECT_FALSE(c.host.TimerArmed(TIMER_ACK));
    EXPECT_EQ(c.host.TimerDue(TIMER_RESPONSE), 122300);
    EXPECT_EQ(L(c).state, LinkState::Idle);

    int busyInBox = -1;
    c.host.onBox = [&](const Box&) { busyInBox = L(c).busy; };
    c.host.Advance(121999);
    EXPECT_TRUE(c.host.boxes.empty());
    c.host.Advance(1);
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "TimeOut : receive response");
    EXPECT_EQ(c.host.boxes[0].caption, "Error");
    EXPECT_EQ(c.host.boxes[0].atMs, 122300);
    EXPECT_EQ(busyInBox, 1);  // cleared only after the box is closed
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_EQ(L(c).state, LinkState::Idle);
    EXPECT_EQ(c.channel->writes.size(), 1u);  // no resend once acknowledged

    // A second ACK in Idle is noise: nothing is armed.
    c.host.Deliver({ACK});
    EXPECT_FALSE(c.host.TimerArmed(TIMER_RESPONSE));
}

TEST(Link, WrongReplyBytesResendAtOnceAndTheFourthGivesUp) {
    TestConsole c;
    c.channel->writes.clear();
    c.Click(1050);
    c.host.Advance(500);
    c.host.Deliver({NAK});
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: " + kStatusFrame, "500: " + kStatusFrame}));
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1500);
    EXPECT_EQ(L(c).state, LinkState::AwaitAck);
    EXPECT_EQ(L(c).busy, 1);

    // The short wait runs out: a resend by expiry waits the full 2000 ms again.
    c.host.Advance(1000);
    EXPECT_EQ(c.channel->writes.size(), 3u);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 3500);
    EXPECT_EQ(L(c).ackTimeoutCount, 1);
    EXPECT_EQ(L(c).ackReplyCount, 1);

    // Each wrong byte of one chunk counts and resends by itself.
    c.host.Deliver({'x', 0x00});
    EXPECT_EQ(c.channel->writes.size(), 5u);
    EXPECT_EQ(L(c).ackReplyCount, 3);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 2500);
    EXPECT_TRUE(c.host.boxes.empty());

    LinkState stateInBox = LinkState::Idle;
    c.host.onBox = [&](const Box&) { stateInBox = L(c).state; };
    c.host.Deliver({NAK});
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "Can't Receive Ack");
    EXPECT_EQ(c.host.boxes[0].caption, "Error");
    EXPECT_EQ(c.host.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(c.channel->writes.size(), 5u);  // no resend for the fourth
    EXPECT_EQ(stateInBox, LinkState::AwaitAck);  // Idle only after the box is closed
    EXPECT_EQ(L(c).state, LinkState::Idle);
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_EQ(L(c).ackReplyCount, 0);
    EXPECT_EQ(L(c).ackTimeoutCount, 1);  // each give-up clears only its own counter
    EXPECT_FALSE(c.host.TimerArmed(TIMER_ACK));
    c.host.Advance(10000);
    EXPECT_EQ(c.channel->writes.size(), 5u);
    EXPECT_EQ(c.host.boxes.size(), 1u);

    // The guarded button works again after the give-up; an ACK clears both counters.
    c.Click(1050);
    EXPECT_EQ(c.channel->writes.size(), 6u);
    c.host.Deliver({ACK});
    EXPECT_EQ(L(c).ackReplyCount, 0);
    EXPECT_EQ(L(c).ackTimeoutCount, 0);
}

TEST(Link, BadBccIsAnsweredWithNakAndTheThirdGivesUp) {
    TestConsole c;
    c.channel->writes.clear();
    c.Click(1050);
    c.host.Deliver({ACK});
    c.host.Advance(100);
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: " + kStatusFrame, "100: 15"}));
    EXPECT_EQ(c.host.TimerDue(TIMER_FRAME), 1100);
    EXPECT_FALSE(c.host.TimerArmed(TIMER_RESPONSE));  // stopped by the SOH
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(L(c).busy, 1);
    EXPECT_EQ(L(c).nakCount, 1);
    EXPECT_EQ(L(c).state, LinkState::Idle);

    // The module's resend within the second is taken normally.
    c.host.Advance(500);
    c.host.Deliver(kStatusAnswer);
    EXPECT_EQ(TimedWrites(c).back(), "600: 06");
    EXPECT_EQ(c.Status(), kStatusLine);
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_EQ(L(c).nakCount, 0);
    EXPECT_FALSE(c.host.TimerArmed(TIMER_FRAME));

    // Three bad frames in a row: two NAKs, then the box and no NAK for the third.
    c.channel->writes.clear();
    c.Click(1050);
    c.host.Deliver({ACK});
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_TRUE(c.host.boxes.empty());
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_EQ(TimedWrites(c),
              (std::vector<std::string>{"600: " + kStatusFrame, "600: 15", "600: 15"}));
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "Error Receive Frame");
    EXPECT_EQ(c.host.boxes[0].caption, "Error");
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_EQ(L(c).nakCount, 0);
    EXPECT_FALSE(c.host.TimerArmed(TIMER_FRAME));
    const std::string message = c.Message();
    c.host.Advance(5000);
    EXPECT_EQ(c.Message(), message);  // nothing is handed over raw later
    EXPECT_EQ(c.Status(), kStatusLine);
}

TEST(Link, RejectedFrameIsShownRawWhenNoResendComes) {
    TestConsole c;
    c.Click(1050);
    c.host.Deliver({ACK});
    const std::string before = c.Message();
    const Bytes bad = WithBadBcc(kStatusAnswer);
    c.host.Deliver(bad);
    c.host.Advance(999);
    EXPECT_EQ(c.Message(), before);
    c.host.Advance(1);
    EXPECT_EQ(c.Message(), before + RawText(bad) + "\r\n");
    EXPECT_EQ(L(c).busy, 0);  // the expiry ends the exchange
    EXPECT_EQ(c.Status(), "");
}

TEST(Link, FrameEndsAtTheFirstEtx) {
    TestConsole c;
    c.channel->writes.clear();
    // 0x03 inside the data ends the text; the next byte is taken as the BCC and fails.
    Bytes f = ResponseFrame('q', {'A', ETX, 'B'});
    c.host.Deliver(f);
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: 15"}));
    EXPECT_EQ(L(c).rxLength, 7);
    EXPECT_EQ(L(c).state, LinkState::Idle);  // the rest is ignored until the next SOH
    EXPECT_EQ(L(c).nakCount, 1);
}

TEST(Link, SohInsideAFrameShowsTheUnfinishedFrameFirst) {
    TestConsole c;
    const std::string before = c.Message();
    c.channel->writes.clear();
    c.host.Deliver({SOH, 'P', STX, 'F', '0'});
    EXPECT_EQ(c.host.TimerDue(TIMER_FRAME), 150);
    c.host.Advance(100);
    // The new frame's SOH restarts the 150 ms from itself.
    c.host.Deliver(Cat({{SOH, 'P'}}));
    EXPECT_EQ(c.Message(), before + " 01 50 02 46 30\r\n");
    EXPECT_EQ(c.host.TimerDue(TIMER_FRAME), 250);
    EXPECT_EQ(L(c).state, LinkState::InFrame);
    EXPECT_TRUE(c.channel->writes.empty());

    // Within one chunk: the unfinished frame is shown before the next one is decoded.
    c.host.Deliver(Cat({{STX, 'F'}, kSpeedAnswer}));
    EXPECT_EQ(c.Message(), before + " 01 50 02 46 30\r\n 01 50 02 46\r\n 291 ");
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"100: 06"}));
    EXPECT_FALSE(c.host.TimerArmed(TIMER_FRAME));
}

TEST(Link, UnfinishedFrameIsShownRawAfter150MsAndTheRestIgnored) {
    TestConsole c;
    c.Click(1050);
    c.host.Deliver({ACK});
    c.host.Advance(1000);
    const std::string before = c.Message();
    c.channel->writes.clear();
    c.host.Deliver(Bytes(kStatusAnswer.begin(), kStatusAnswer.begin() + 4));
    c.host.Advance(149);
    EXPECT_EQ(c.Message(), before);
    EXPECT_EQ(L(c).state, LinkState::InFrame);
    c.host.Advance(1);
    EXPECT_EQ(c.Message(), before + " 01 50 02 46\r\n");
    EXPECT_EQ(L(c).state, LinkState::Idle);
    EXPECT_EQ(L(c).busy, 0);

    // The late tail of the frame falls into Idle and is ignored.
    c.host.Deliver(Bytes(kStatusAnswer.begin() + 4, kStatusAnswer.end()));
    EXPECT_TRUE(c.channel->writes.empty());
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(c.Message(), before + " 01 50 02 46\r\n");

    // The busy flag was cleared by the expiry: a guarded click sends; the next frame is taken.
    c.Click(1050);
    EXPECT_EQ(c.channel->writes.size(), 1u);
    c.host.Deliver(Cat({{ACK}, kStatusAnswer}));
    EXPECT_EQ(c.Status(), kStatusLine);
    EXPECT_EQ(Hex(c.channel->writes.back().bytes), "06");
}

TEST(Link, TimerFrameExpiryPostsTheRawHandOver) {
    TestConsole c;
    const std::string before = c.Message();
    c.host.Deliver({SOH, 0x9C, '<'});
    // Run the expiry by hand to see the hand-over before the host runs posted messages.
    c.host.KillTimer(TIMER_FRAME);
    c.dlg->OnTimer(TIMER_FRAME);
    EXPECT_EQ(c.Message(), before);
    ASSERT_EQ(c.host.posted.size(), 1u);
    EXPECT_EQ(c.host.posted[0].second, 3u);
    EXPECT_EQ(L(c).state, LinkState::Idle);
    c.host.RunPosted();
    EXPECT_EQ(c.Message(), before + " 01 9c 3c\r\n");
    EXPECT_EQ(c.controls().Checked(1119), 1);
}

TEST(Link, FrameLimitOf121Bytes) {
    TestConsole c;
    c.channel->writes.clear();
    const std::string before = c.Message();

    // The largest frame that fits is taken whole.
    const Bytes largest = ResponseFrame('q', Repeat('A', 115));
    ASSERT_EQ(largest.size(), 121u);
    c.host.Deliver(largest);
    std::string values;
    for (int i = 0; i < 115; ++i) values += "65 ";
    EXPECT_EQ(c.Message(), before + "Len  121 \r\n" + values + "\r\n");
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: 06"}));

    // One byte more without ETX: handed over raw (posted) as 121 bytes, link Idle, busy cleared.
    c.Click(1050);
    c.host.Deliver({ACK});
    c.channel->writes.clear();
    const std::string mid = c.Message();
    const Bytes overflow = Cat({{SOH}, Repeat('A', 120)});
    c.host.Deliver(Bytes(overflow.begin(), overflow.begin() + 80));
    EXPECT_EQ(L(c).state, LinkState::InFrame);
    // The rest of the overflow, then in the same chunk a short unfinished frame and a good one.
    c.host.Deliver(Cat({Bytes(overflow.begin() + 80, overflow.end()), {'A', ETX, 0x00, SOH, 'Z'},
                        kSpeedAnswer}));
    // Posted: the raw line comes after the handling of the chunk, and shows the 121 bytes that
    // overflowed even though a later unfinished frame was shown meanwhile.
    EXPECT_EQ(c.Message(), mid + " 01 5a\r\n 291 " + RawText(overflow) + "\r\n");
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: 06"}));  // only for the good frame
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_FALSE(c.host.TimerArmed(TIMER_FRAME));

    // An ETX as the 121st byte leaves no room for a BCC: also handed over raw, and the
    // outstanding exchange ends as on the frame timer's expiry.
    c.Click(1050);
    c.host.Deliver({ACK});
    c.channel->writes.clear();
    ASSERT_EQ(L(c).busy, 1);
    const std::string last = c.Message();
    const Bytes etxAtEnd = Cat({{SOH}, Repeat('B', 119), {ETX}});
    c.host.Deliver(Cat({etxAtEnd, {0x42}}), 80);
    EXPECT_EQ(c.Message(), last + RawText(etxAtEnd) + "\r\n");
    EXPECT_EQ(L(c).state, LinkState::Idle);
    EXPECT_EQ(L(c).busy, 0);
    EXPECT_TRUE(c.channel->writes.empty());
    c.host.Advance(1000);
    EXPECT_EQ(c.Message(), last + RawText(etxAtEnd) + "\r\n");
}

TEST(Link, BusyFlagGuardsTheGuardedButtonsOnly) {
    TestConsole c;
    c.channel->writes.clear();
    c.Click(1050);
    c.host.Advance(500);
    c.Click(1050);  // ignored while the exchange is outstanding
    EXPECT_EQ(c.channel->writes.size(), 1u);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 2000);

    // "READ DIP" sends anyway, replaces the stored frame and restarts the ACK wait.
    c.Tab(3);
    c.Click(1069);
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: " + kStatusFrame, "500: 04 50 02 72 03 27"}));
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 2500);
    c.host.Advance(2000);
    EXPECT_EQ(TimedWrites(c).back(), "2500: 04 50 02 72 03 27");  // the resend writes the new frame

    // A NAKed frame keeps the exchange outstanding; a good frame clears it before its decoder runs.
    c.host.Deliver({ACK});
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_EQ(L(c).busy, 1);
    c.Tab(0);
    c.Click(1050);
    EXPECT_EQ(Hex(c.channel->writes.back().bytes), "15");
    int busyInDecoderBox = -1;
    c.host.onBox = [&](const Box&) { busyInDecoderBox = L(c).busy; };
    c.host.Deliver(ResponseFrame('D', {0x3A}));
    EXPECT_EQ(busyInDecoderBox, 0);
    c.Click(1050);
    EXPECT_EQ(Hex(c.channel->writes.back().bytes), kStatusFrame);
}

TEST(Link, FurtherDispenseCycleArmsTheShortAckWait) {
    TestConsole c;
    c.Tab(1);
    c.Click(1026);
    c.Type(1028, "5");
    c.Type(1030, "2");
    c.channel->writes.clear();
    c.Click(1020);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1000);
    c.host.Advance(100);
    c.host.Deliver({ACK});
    c.host.Advance(100);
    c.host.Deliver(ResponseFrame('E', {'0', '5', '0', '5', '1', '0', '0', '0'}));
    EXPECT_EQ(c.host.TimerDue(TIMER_REPEAT), 700);
    c.host.Advance(500);
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: 04 50 02 45 30 35 03 15", "200: 06",
                                                        "700: 04 50 02 45 30 35 03 15"}));
    EXPECT_EQ(L(c).state, LinkState::AwaitAck);
    EXPECT_EQ(L(c).busy, 1);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1700);
    // Without an ACK the cycle is resent on expiry instead of hanging the link.
    c.host.Advance(1000);
    EXPECT_EQ(TimedWrites(c).back(), "1700: 04 50 02 45 30 35 03 15");
}

// --- Reassembly ------------------------------------------------------------------------------

namespace {

struct Outcome {
    std::vector<std::string> writes;
    std::string message, status;
    std::vector<std::string> boxes;
    std::vector<int> checks;
    LinkState state;
    int busy;
    std::map<int, int64_t> timers;

    bool operator==(const Outcome&) const = default;
};

Bytes ReassemblyStream() {
    return Cat({
        {ACK},
        {ACK, NAK, 'z', ETX, 0x00},                       // noise in Idle
        kStatusAnswer,                                     // good
        WithBadBcc(kSpeedAnswer),                          // NAK
        kSpeedAnswer,                                      // the resend, good
        {SOH, 'P', STX, 'k'},                              // cut off by the next SOH
        ResponseFrame(cmd::Notice, {'1', '2'}, cmd::Notice),  // notice printed twice
        ResponseFrame('D', {0x3A}),                        // error box, then RESET
        ResponseFrame('j', {'1'}),                         // reject-tray warning
        ResponseFrame('g', {0x9C, 0x00, 'A', 0xFF, '1', 0x7F, '?', '?', '1', '2', ':', '?'}),
        {'x', 'y'},                                        // noise
        ResponseFrame('p', {'0', '1', '2', '3', ':', ';', '<', '='}),
        ResponseFrame('r', {'?', '5'}),
    });
}

Outcome RunSplit(const std::vector<size_t>& chunkSizes) {
    TestConsole c;
    c.Click(1050);
    const Bytes stream = ReassemblyStream();
    size_t at = 0;
    for (size_t n : chunkSizes) {
        if (at >= stream.size()) break;
        const size_t len = std::min(n, stream.size() - at);
        c.host.Deliver(Bytes(stream.begin() + at, stream.begin() + at + len), 80);
        at += len;
    }
    if (at < stream.size()) c.host.Deliver(Bytes(stream.begin() + at, stream.end()), 80);

    Outcome o;
    o.writes = TimedWrites(c);
    o.message = c.Message();
    o.status = c.Status();
    for (const Box& b : c.host.boxes) o.boxes.push_back(b.caption + "|" + b.text);
    for (int id : {1036, 1041, 1045, 1047, 1049, 1072, 1119, 1120, 1121}) o.checks.push_back(c.controls().Checked(id));
    o.state = L(c).state;
    o.busy = L(c).busy;
    o.timers = c.host.timers;
    return o;
}

}  // namespace

TEST(Reassembly, AnySplitOfTheStreamGivesTheSameResult) {
    const Outcome whole = RunSplit({80, 80, 80, 80});
    // The reference itself is right: the writes, the boxes and the pane tails.
    EXPECT_EQ(whole.writes, (std::vector<std::string>{"0: " + kStatusFrame, "0: 06", "0: 15", "0: 06",
                                                      "0: 06", "0: 06", "0: 06", "0: 06", "0: 06",
                                                      "0: 06"}));
    EXPECT_EQ(whole.boxes, (std::vector<std::string>{"ERROR CODE|Misnatch CRI to EJECT \n CODE[3A]",
                                                     "WORNING|Remove bills in Reject Tray"}));
    EXPECT_EQ(whole.status, kStatusLine + "RESET\r\n\r\n");
    const std::string tail = " 291  01 50 02 6b\r\n\r\n 9c 02 9c 31\r\n 9c 02 9c 31"
                             " 9C  00  41  FF  31  7F  RVDT -1  SUM 12AF \r\n"
                             "Len  14 \r\n0123 ABCD \r\n DIP = f5";
    ASSERT_GE(whole.message.size(), tail.size());
    EXPECT_EQ(whole.message.substr(whole.message.size() - tail.size()), tail);
    EXPECT_EQ(whole.busy, 0);
    EXPECT_EQ(whole.state, LinkState::Idle);

    EXPECT_EQ(RunSplit(std::vector<size_t>(ReassemblyStream().size(), 1)), whole);

    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> size(1, 80);
    for (int split = 0; split < 300; ++split) {
        std::vector<size_t> sizes;
        for (size_t total = 0; total < ReassemblyStream().size(); total += sizes.back())
            sizes.push_back(size(rng));
        const Outcome o = RunSplit(sizes);
        ASSERT_EQ(o, whole) << "split " << split;
    }
}

TEST(Reassembly, TwoFramesInOneChunkAreBothAcknowledgedInOrder) {
    TestConsole c;
    c.Click(1050);
    c.channel->writes.clear();
    const std::string before = c.Message();
    c.host.Deliver(Cat({{ACK}, kStatusAnswer, kSpeedAnswer, ResponseFrame('r', {'?', '5'})}));
    EXPECT_EQ(TimedWrites(c), (std::vector<std::string>{"0: 06", "0: 06", "0: 06"}));
    EXPECT_EQ(c.Status(), kStatusLine + "\r\n");
    EXPECT_EQ(c.Message(), before + " 291  DIP = f5");
    EXPECT_EQ(L(c).nakCount, 0);
}

// --- Modal boxes -----------------------------------------------------------------------------

TEST(Modal, BoxOpenedWhileAChunkIsHandledHoldsBackTheNextChunk) {
    TestConsole c;
    const std::string before = c.Message();
    c.channel->writes.clear();
    std::string messageInBox, statusInBox;
    size_t writesInBox = 0;
    c.host.onBox = [&](const Box& b) {
        if (b.caption != "ERROR CODE") return;
        c.host.Deliver(kSpeedAnswer);
        messageInBox = c.Message();
        statusInBox = c.Status();
        writesInBox = c.channel->writes.size();
    };
    c.host.Deliver(ResponseFrame('D', {0x3A}));
    EXPECT_EQ(messageInBox, before);  // the speed frame waited
    EXPECT_EQ(statusInBox, "");       // and "RESET" comes after the box
    EXPECT_EQ(writesInBox, 1u);
    EXPECT_EQ(c.Status(), "RESET\r\n");
    EXPECT_EQ(c.Message(), before + " 291 ");
    EXPECT_EQ(c.channel->writes.size(), 2u);

    // A link give-up inside a chunk holds back too: the ACK delivered from the box arrives
    // after the link went Idle and is ignored.
    TestConsole d;
    d.Click(1050);
    d.host.onBox = [&](const Box&) { d.host.Deliver({ACK}); };
    d.host.Deliver({NAK, NAK, NAK, NAK});
    ASSERT_EQ(d.host.boxes.size(), 1u);
    EXPECT_EQ(d.host.boxes[0].text, "Can't Receive Ack");
    EXPECT_FALSE(d.host.TimerArmed(TIMER_RESPONSE));
    EXPECT_EQ(L(d).state, LinkState::Idle);
}

TEST(Modal, BoxOpenedFromATimerHoldsNothingBack) {
    TestConsole c;
    c.Click(1050);
    c.host.Deliver({ACK});
    c.channel->writes.clear();
    int busyBefore = -1;
    std::string statusInBox;
    size_t writesInBox = 0;
    c.host.onBox = [&](const Box&) {
        busyBefore = L(c).busy;
        c.host.Deliver(kStatusAnswer);
        statusInBox = c.Status();
        writesInBox = c.channel->writes.size();
    };
    c.host.Advance(kResponseWaitMs);
    ASSERT_EQ(c.host.boxes.size(), 1u);
    EXPECT_EQ(c.host.boxes[0].text, "TimeOut : receive response");
    EXPECT_EQ(busyBefore, 1);
    EXPECT_EQ(statusInBox, kStatusLine);  // processed at once
    EXPECT_EQ(writesInBox, 1u);
    EXPECT_EQ(L(c).busy, 0);

    // "TimeOut : Receive Ack": a frame delivered from the box is taken at once; the counter is
    // cleared only after the box is closed.
    TestConsole d;
    d.Click(1050);
    int countInBox = -1;
    std::string speedInBox;
    const std::string before = d.Message();
    d.host.onBox = [&](const Box&) {
        countInBox = L(d).ackTimeoutCount;
        d.host.Deliver(kSpeedAnswer);
        speedInBox = d.Message();
    };
    d.host.Advance(8000);
    ASSERT_EQ(d.host.boxes.size(), 1u);
    EXPECT_EQ(countInBox, 4);
    EXPECT_EQ(speedInBox, before + " 291 ");
    EXPECT_EQ(L(d).ackTimeoutCount, 0);
}
