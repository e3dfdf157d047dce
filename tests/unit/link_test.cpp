// The stored command frame byte for byte (the frame of each button is tested with its page), the
// link state machine on the virtual clock, and reassembly of any split.
#include <gtest/gtest.h>

#include <random>

#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

const std::string kStatusFrame = "04 50 02 46 03 13";
const Bytes kStatusAnswer = ResponseFrame('F', {'0', 0x00, 0x41, 0x02});
const std::string kStatusLine = "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n";
const Bytes kSpeedAnswer = ResponseFrame('b', {'0', '1', '2', '3'});  // " 291 "

Bytes WithBadBcc(Bytes frame) {
    frame.back() ^= 0x5A;
    return frame;
}

// The link at a glance: state, busy flag, the ACK-timeout, wrong-reply and NAK counters, and the
// armed timers with their due times, e.g. "AwaitAck busy 1/1/0 ACK@3500".
std::string Snap(const TestConsole& c) {
    static const char* states[] = {"Idle", "AwaitAck", "?", "InFrame", "AwaitBcc"};
    static const char* timers[] = {"?", "ACK", "FRAME", "RESP", "REPEAT"};
    const Link& l = c.link();
    std::string s = states[static_cast<int>(l.state)] + std::string(l.busy ? " busy " : " ") +
                    std::to_string(l.ackTimeoutCount) + "/" + std::to_string(l.ackReplyCount) + "/" +
                    std::to_string(l.nakCount);
    for (auto [id, due] : c.host.timers) s += " " + std::string(timers[id]) + "@" + std::to_string(due);
    return s;
}

// "STATUS" with the writes cleared first, then `more` operator actions.
void SendStatus(TestConsole& c, const std::string& more = "") {
    c.channel->writes.clear();
    c.Do("click 1050; " + more);
}

}  // namespace

TEST(Frames, BuilderLayoutAndBcc) {
    const auto hex = [](const StoredFrame& f) { return Hex(Bytes(f.bytes, f.bytes + f.length)); };
    StoredFrame f;
    f.Build(cmd::Status);
    EXPECT_EQ(hex(f), "04 50 02 46 03 13");
    EXPECT_EQ(f.length, 6);
    EXPECT_EQ(f.bcc, 0x13);

    // Bytes above 0x7F take part in the plain 8-bit exclusive OR.
    const uint8_t high[] = {0x15, 0xFF, 0x80};
    f.Build(0x80, high, sizeof high);
    EXPECT_EQ(hex(f), "04 50 02 80 15 FF 80 03 BF");
    EXPECT_EQ(Bcc(f.bytes, f.length), 0);  // the whole frame including its BCC folds to zero

    f.Build(cmd::ReadDip);  // a new build replaces the old frame entirely
    EXPECT_EQ(hex(f), "04 50 02 72 03 27");

    // At most 19 data bytes are taken: the longest frame is 25 bytes and fits the buffer.
    const std::vector<uint8_t> many(24, '7');
    f.Build(cmd::WriteCalibration, many.data(), many.size());
    EXPECT_EQ(f.length, 25);
    EXPECT_EQ(f.bytes[23], ETX);
    EXPECT_EQ(Bcc(f.bytes, f.length), 0);

    // Piecewise building gives the same bytes as the one-call build.
    StoredFrame g;
    g.Begin(0x80);
    for (uint8_t b : high) g.Append(b);
    g.Finish();
    EXPECT_EQ(hex(g), "04 50 02 80 15 FF 80 03 BF");
    EXPECT_EQ(g.bcc, 0xBF);
}

TEST(Link, NoReplyResendsEveryTwoSecondsThenTimesOutAtEight) {
    TestConsole c;
    for (int round = 0; round < 2; ++round) {  // a give-up leaves the whole retry budget again
        SCOPED_TRACE(round);
        const int64_t t0 = c.host.now;
        SendStatus(c);
        std::string inBox, messageInBox;
        c.host.onBox = [&](const Box&) {  // a box opened from a timer holds nothing back
            inBox = Snap(c);
            c.host.Deliver(kSpeedAnswer);
            messageInBox = c.Message();
        };
        c.host.Advance(7999);
        Strings expected;
        for (int t : {0, 2000, 4000, 6000}) expected.push_back(std::to_string(t0 + t) + ": " + kStatusFrame);
        EXPECT_EQ(c.TimedWrites(), expected);
        EXPECT_EQ(c.host.boxes.size(), static_cast<size_t>(round));
        EXPECT_EQ(Snap(c), "AwaitAck busy 3/0/0 ACK@" + std::to_string(t0 + 8000));
        c.host.Advance(1);
        EXPECT_EQ(c.Boxes().back(), "Error|TimeOut : Receive Ack");
        EXPECT_EQ(c.host.boxes.back().atMs, t0 + 8000);
        EXPECT_EQ(c.Frames().size(), 4u);
        EXPECT_EQ(inBox, "Idle 4/0/0");  // the counter is cleared only after the box is closed
        EXPECT_EQ(messageInBox.substr(messageInBox.size() - 5), " 291 ");
        EXPECT_EQ(Snap(c), "Idle 0/0/0");
    }
}

TEST(Link, AcknowledgedButNeverAnsweredTimesOut122SecondsAfterTheAck) {
    TestConsole c;
    SendStatus(c, "wait 300; ack");
    EXPECT_EQ(Snap(c), "Idle busy 0/0/0 RESP@122300");
    Strings inBox;
    c.host.onBox = [&](const Box&) {  // a box opened from a timer holds nothing back
        const std::string link = Snap(c);
        c.host.Deliver(kStatusAnswer);
        inBox = {link, c.Status(), Hex(c.channel->writes.back().bytes)};
    };
    c.host.Advance(121999);
    EXPECT_TRUE(c.host.boxes.empty());
    c.host.Advance(1);
    EXPECT_EQ(c.Boxes(), Strings{"Error|TimeOut : receive response"});
    EXPECT_EQ(c.host.boxes[0].atMs, 122300);
    EXPECT_EQ(inBox, (Strings{"Idle busy 0/0/0", kStatusLine, "06"}));  // busy is cleared after the box
    EXPECT_EQ(Snap(c), "Idle 0/0/0");
    EXPECT_EQ(c.Frames().size(), 1u);  // no resend once acknowledged
    c.host.Deliver({ACK});             // an ACK in Idle is noise
    EXPECT_EQ(Snap(c), "Idle 0/0/0");
}

TEST(Link, WrongReplyBytesResendAtOnceAndTheFourthGivesUp) {
    TestConsole c;
    SendStatus(c, "wait 500");
    c.host.Deliver({NAK});
    EXPECT_EQ(c.TimedWrites(), (Strings{"0: " + kStatusFrame, "500: " + kStatusFrame}));
    EXPECT_EQ(Snap(c), "AwaitAck busy 0/1/0 ACK@1500");
    c.host.Advance(1000);  // a resend by expiry waits the full 2000 ms again
    EXPECT_EQ(c.channel->writes.size(), 3u);
    EXPECT_EQ(Snap(c), "AwaitAck busy 1/1/0 ACK@3500");
    c.host.Deliver({'x', 0x00});  // each wrong byte of one chunk counts and resends by itself
    EXPECT_EQ(c.channel->writes.size(), 5u);
    EXPECT_EQ(Snap(c), "AwaitAck busy 1/3/0 ACK@2500");
    EXPECT_TRUE(c.host.boxes.empty());

    std::string inBox;
    c.host.onBox = [&](const Box&) {
        inBox = Snap(c);
        c.host.Deliver({ACK});  // held back until the box is closed, then ignored in Idle
    };
    c.host.Deliver({NAK});
    EXPECT_EQ(c.Boxes(), Strings{"Error|Can't Receive Ack"});
    EXPECT_EQ(c.channel->writes.size(), 5u);  // no resend for the fourth
    EXPECT_EQ(inBox, "AwaitAck 1/0/0");        // Idle only after the box is closed
    EXPECT_EQ(Snap(c), "Idle 1/0/0");          // each give-up clears only its own counter
    c.host.Advance(10000);
    EXPECT_EQ(c.channel->writes.size(), 5u);
    EXPECT_EQ(c.host.boxes.size(), 1u);

    c.Click(1050);  // the guarded button works again; an ACK clears both counters
    EXPECT_EQ(c.channel->writes.size(), 6u);
    c.host.Deliver({ACK});
    EXPECT_EQ(Snap(c), "Idle busy 0/0/0 RESP@133500");
}

TEST(Link, BadBccIsAnsweredWithNakAndTheThirdGivesUp) {
    TestConsole c;
    SendStatus(c, "ack; wait 100");
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_EQ(c.TimedWrites(), (Strings{"0: " + kStatusFrame, "100: 15"}));
    EXPECT_EQ(Snap(c), "Idle busy 0/0/1 FRAME@1100");  // the SOH stopped the response wait
    EXPECT_EQ(c.Status(), "");
    c.host.Advance(500);  // the module's resend within the second is taken normally
    c.host.Deliver(kStatusAnswer);
    EXPECT_EQ(c.TimedWrites().back(), "600: 06");
    EXPECT_EQ(c.Status(), kStatusLine);
    EXPECT_EQ(Snap(c), "Idle 0/0/0");
    EXPECT_TRUE(c.dlg->IsIdle());

    // Three bad frames in a row: two NAKs, then the box and no NAK for the third.
    SendStatus(c, "ack");
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_TRUE(c.host.boxes.empty());
    c.host.Deliver(WithBadBcc(kStatusAnswer));
    EXPECT_EQ(c.TimedWrites(), (Strings{"600: " + kStatusFrame, "600: 15", "600: 15"}));
    EXPECT_EQ(c.Boxes(), Strings{"Error|Error Receive Frame"});
    EXPECT_EQ(Snap(c), "Idle 0/0/0");
    const std::string message = c.Message();
    c.host.Advance(5000);
    EXPECT_EQ(c.Message(), message);  // nothing is handed over raw later
    EXPECT_EQ(c.Status(), kStatusLine);

    // A rejected frame with no resend after it is shown raw when the second is over.
    SendStatus(c, "ack");
    const Bytes bad = WithBadBcc(kStatusAnswer);
    c.host.Deliver(bad);
    c.host.Advance(999);
    EXPECT_EQ(c.Message(), message);
    c.host.Advance(1);
    EXPECT_EQ(c.Message(), message + LowerHex(bad) + "\r\n");
    EXPECT_EQ(Snap(c), "Idle 0/0/1");  // the expiry ends the exchange
    EXPECT_EQ(c.Status(), kStatusLine);
}

TEST(Link, UnfinishedFrameIsShownRawAfter150MsAndTheRestIgnored) {
    TestConsole c;
    c.Do("click 1050; ack; wait 1000");
    const std::string before = c.Message();
    c.channel->writes.clear();
    c.host.Deliver(Bytes(kStatusAnswer.begin(), kStatusAnswer.begin() + 4));
    c.host.Advance(149);
    EXPECT_EQ(c.Message(), before);
    EXPECT_EQ(Snap(c), "InFrame busy 0/0/0 FRAME@1150");
    c.host.Advance(1);
    EXPECT_EQ(c.Message(), before + " 01 50 02 46\r\n");
    EXPECT_EQ(Snap(c), "Idle 0/0/0");
    // The late tail falls into Idle and is ignored.
    c.host.Deliver(Bytes(kStatusAnswer.begin() + 4, kStatusAnswer.end()));
    EXPECT_TRUE(c.channel->writes.empty());
    EXPECT_EQ(c.Status(), "");
    EXPECT_EQ(c.Message(), before + " 01 50 02 46\r\n");
    // The expiry cleared the busy flag: a guarded click sends; the next frame is taken.
    c.Click(1050);
    c.host.Deliver(Concat({{ACK}, kStatusAnswer}));
    EXPECT_EQ(c.Status(), kStatusLine);
    EXPECT_EQ(c.TimedWrites(), (Strings{"1150: " + kStatusFrame, "1150: 06"}));
}

TEST(Link, FrameEndsAtTheFirstEtxAndAt121Bytes) {
    TestConsole c;
    c.channel->writes.clear();
    const std::string before = c.Message();
    const Bytes largest = ResponseFrame('q', Bytes(115, 'A'));  // the largest that fits: taken whole
    ASSERT_EQ(largest.size(), 121u);
    c.host.Deliver(largest);
    std::string values;
    for (int i = 0; i < 115; ++i) values += "65 ";
    EXPECT_EQ(c.Message(), before + "Len  121 \r\n" + values + "\r\n");
    EXPECT_EQ(c.TimedWrites(), Strings{"0: 06"});

    // One byte more without ETX: handed over raw (posted) as 121 bytes, link Idle, busy cleared.
    SendStatus(c, "ack");
    c.channel->writes.clear();
    const std::string mid = c.Message();
    const Bytes overflow = Concat({{SOH}, Bytes(120, 'A')});
    c.host.Deliver(Bytes(overflow.begin(), overflow.begin() + 80));
    EXPECT_EQ(Snap(c), "InFrame busy 0/0/0 FRAME@150");
    // The rest of it, then in the same chunk a short unfinished frame and a good one. The posted
    // raw line comes last and still shows the 121 bytes that overflowed.
    c.host.Deliver(Concat({Bytes(overflow.begin() + 80, overflow.end()), {'A', ETX, 0x00, SOH, 'Z'}, kSpeedAnswer}));
    EXPECT_EQ(c.Message(), mid + " 01 5a\r\n 291 " + LowerHex(overflow) + "\r\n");
    EXPECT_EQ(c.TimedWrites(), Strings{"0: 06"});  // only for the good frame
    EXPECT_EQ(Snap(c), "Idle 0/0/0");

    // An ETX as the 121st byte leaves no room for a BCC: handed over raw too, and the outstanding
    // exchange ends as on the frame timer's expiry.
    SendStatus(c, "ack");
    c.channel->writes.clear();
    const std::string last = c.Message();
    const Bytes etxAtEnd = Concat({{SOH}, Bytes(119, 'B'), {ETX}});
    c.host.Deliver(Concat({etxAtEnd, {0x42}}));
    EXPECT_EQ(c.Message(), last + LowerHex(etxAtEnd) + "\r\n");
    EXPECT_EQ(Snap(c), "Idle 0/0/0");
    EXPECT_TRUE(c.channel->writes.empty());
    c.host.Advance(1000);
    EXPECT_EQ(c.Message(), last + LowerHex(etxAtEnd) + "\r\n");

    c.Receive('q', {'A', ETX, 'B'});  // the byte after the ETX is taken as the BCC and fails
    EXPECT_EQ(c.TimedWrites(), Strings{"1000: 15"});
    EXPECT_EQ(c.link().rxLength, 7);
    EXPECT_EQ(Snap(c), "Idle 0/0/1 FRAME@2000");  // the rest is ignored until the next SOH
}

// --- Reassembly ------------------------------------------------------------------------------

namespace {

const Bytes kStream = Concat({
    {ACK},
    {ACK, NAK, 'z', ETX, 0x00},                           // noise in Idle
    kStatusAnswer,                                         // good
    WithBadBcc(kSpeedAnswer),                              // NAK
    kSpeedAnswer,                                          // the resend, good
    {SOH, 'P', STX, 'k'},                                  // cut off by the next SOH
    ResponseFrame(cmd::Notice, {'1', '2'}, cmd::Notice),  // notice printed twice
    ResponseFrame('D', {0x3A}),                            // error box, then RESET
    ResponseFrame('j', {'1'}),                             // reject-tray warning
    ResponseFrame('g', {0x9C, 0x00, 'A', 0xFF, '1', 0x7F, '?', '?', '1', '2', ':', '?'}),
    {'x', 'y'},  // noise
    ResponseFrame('p', {'0', '1', '2', '3', ':', ';', '<', '='}),
    ResponseFrame('r', {'?', '5'}),
});

// Everything the operator and the module see after the stream, split into chunks of these sizes.
Strings RunSplit(const std::vector<size_t>& chunkSizes) {
    TestConsole c;
    c.Click(1050);
    size_t at = 0;
    for (size_t n : chunkSizes) {
        const size_t len = std::min(n, kStream.size() - at);
        c.host.Deliver(Bytes(kStream.begin() + at, kStream.begin() + at + len));
        at += len;
    }
    Strings out = c.TimedWrites();
    for (const std::string& s : c.Boxes()) out.push_back(s);
    for (const std::string& s : {c.Message(), c.Status(), Snap(c),
                                 c.Checks({1036, 1041, 1045, 1047, 1049, 1072, 1119, 1120, 1121})})
        out.push_back(s);
    return out;
}

}  // namespace

TEST(Reassembly, AnySplitOfTheStreamGivesTheSameResult) {
    const Strings whole = RunSplit({80, 80});
    // The reference itself is right: the writes, the boxes, the pane tails, the link and the checks.
    const std::string tail = " 291  01 50 02 6b\r\n\r\n 9c 02 9c 31\r\n 9c 02 9c 31"
                             " 9C  00  41  FF  31  7F  RVDT -1  SUM 12AF \r\n"
                             "Len  14 \r\n0123 ABCD \r\n DIP = f5";
    ASSERT_EQ(whole.size(), 16u);
    ASSERT_GE(whole[12].size(), tail.size());
    EXPECT_EQ(whole[12].substr(whole[12].size() - tail.size()), tail);
    EXPECT_EQ(Strings(whole.begin(), whole.begin() + 12),
              (Strings{"0: " + kStatusFrame, "0: 06", "0: 15", "0: 06", "0: 06", "0: 06", "0: 06", "0: 06", "0: 06",
                       "0: 06", "ERROR CODE|Misnatch CRI to EJECT \n CODE[3A]",
                       "WORNING|Remove bills in Reject Tray"}));
    EXPECT_EQ(Strings(whole.begin() + 13, whole.end()),
              (Strings{kStatusLine + "RESET\r\n\r\n", "Idle 0/0/0", "100111000"}));

    EXPECT_EQ(RunSplit(std::vector<size_t>(kStream.size(), 1)), whole);
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> size(1, 80);
    for (int split = 0; split < 300; ++split) {
        std::vector<size_t> sizes;
        for (size_t total = 0; total < kStream.size(); total += sizes.back()) sizes.push_back(size(rng));
        ASSERT_EQ(RunSplit(sizes), whole) << "split " << split;
    }
}
