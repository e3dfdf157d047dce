// The single diagnostic and status commands: the frame of every button for either cassette, the
// busy guard, the line breaks some of them start in the Message pane, and the cassette radios.
#include <gtest/gtest.h>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

struct Button {
    int id;
    const char* name;
    const char* upperFrame;
    const char* lowerFrame;
    bool guarded;
    bool newLine;  // appends "\r\n" to the Message pane after sending
};

const Button kButtons[] = {
    {1050, "STATUS", "04 50 02 46 03 13", "04 50 02 46 03 13", true, false},
    {1051, "Purge", "04 50 02 44 03 11", "04 50 02 44 03 11", true, false},
    {1054, "DIVERT", "04 50 02 60 03 35", "04 50 02 60 03 35", true, false},
    {1055, "BLDC SPEED", "04 50 02 62 03 37", "04 50 02 62 03 37", true, false},
    {1059, "CLUTCH", "04 50 02 6D 03 38", "04 50 02 6E 03 3B", true, false},
    {1057, "DIVERTING", "04 50 02 69 03 3C", "04 50 02 6A 03 3F", true, false},
    {1056, "BILL LEN", "04 50 02 67 03 32", "04 50 02 68 03 3D", true, true},
    {1058, "RVDT", "04 50 02 6B 03 3E", "04 50 02 6C 03 39", true, true},
    {1060, "ROM Ver", "04 50 02 47 03 12", "04 50 02 47 03 12", true, false},
    {1066, "RVDT RANGE", "04 50 02 70 03 25", "04 50 02 70 03 25", true, false},
    {1067, "RVDT Value", "04 50 02 71 03 24", "04 50 02 71 03 24", false, false},
    {1069, "READ DIP", "04 50 02 72 03 27", "04 50 02 72 03 27", false, false},
    {1123, "Reject Bill", "04 50 02 76 03 23", "04 50 02 77 03 22", true, true},
};

std::vector<Write> CommandWrites(const TestConsole& c) {
    std::vector<Write> out;
    for (const Write& w : c.channel->writes)
        if (w.bytes.size() > 1) out.push_back(w);
    return out;
}

void AckAndAnswer(TestConsole& c, const Bytes& answer) {
    Bytes bytes{ACK};
    bytes.insert(bytes.end(), answer.begin(), answer.end());
    c.host.Deliver(bytes);
}

}  // namespace

TEST(DiagnosticCommands, EveryButtonSendsItsFrameForEitherCassette) {
    for (const Button& b : kButtons) {
        for (bool lower : {false, true}) {
            SCOPED_TRACE(std::string(b.name) + (lower ? " lower" : " upper"));
            TestConsole c;
            c.Tab(3);
            if (lower) c.Click(1126);
            EXPECT_EQ(c.controls().Checked(1125), lower ? 0 : 1);
            EXPECT_EQ(c.controls().Checked(1126), lower ? 1 : 0);
            const std::string messageBefore = c.Message();
            c.host.Advance(250);
            c.Click(b.id);
            auto w = CommandWrites(c);
            ASSERT_EQ(w.size(), 1u);
            EXPECT_EQ(Hex(w[0].bytes), lower ? b.lowerFrame : b.upperFrame);
            EXPECT_EQ(c.dlg->GetLink().state, LinkState::AwaitAck);
            EXPECT_EQ(c.dlg->GetLink().busy, 1);
            EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 2000);
            EXPECT_EQ(c.Message(), messageBefore + (b.newLine ? "\r\n" : ""));
            EXPECT_TRUE(c.host.boxes.empty());
        }
    }
}

TEST(DiagnosticCommands, BusyGuard) {
    // Every button clicked while an exchange is outstanding: the guarded ones send nothing and
    // change nothing, the unguarded ones replace the stored frame and restart the ACK wait.
    for (const Button& b : kButtons) {
        SCOPED_TRACE(b.name);
        TestConsole c;
        c.Tab(3);
        c.Click(1050);
        c.host.Advance(1500);
        const std::string messageBefore = c.Message();
        c.Click(b.id);
        auto w = CommandWrites(c);
        if (b.guarded) {
            EXPECT_EQ(w.size(), 1u);
            EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 2000);
            EXPECT_EQ(c.Message(), messageBefore);
        } else {
            ASSERT_EQ(w.size(), 2u);
            EXPECT_EQ(Hex(w[1].bytes), b.upperFrame);
            EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1500 + 2000);
            // A later resend sends the new frame.
            c.host.Advance(2000);
            w = CommandWrites(c);
            ASSERT_EQ(w.size(), 3u);
            EXPECT_EQ(Hex(w[2].bytes), b.upperFrame);
        }
    }

    // "STATUS" twice: one frame; once answered, the next click sends again.
    TestConsole c;
    c.Click(1050);
    c.Click(1050);
    EXPECT_EQ(CommandWrites(c).size(), 1u);
    AckAndAnswer(c, ResponseFrame('F', {'0', 0x00, 0x00, 0x00}));
    c.Click(1050);
    EXPECT_EQ(CommandWrites(c).size(), 2u);

    // "READ DIP" twice: two frames, the second restarts the 2000 ms wait.
    TestConsole d;
    d.Tab(3);
    d.Click(1069);
    d.host.Advance(1200);
    d.Click(1069);
    auto w = CommandWrites(d);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(Hex(w[0].bytes), "04 50 02 72 03 27");
    EXPECT_EQ(Hex(w[1].bytes), "04 50 02 72 03 27");
    EXPECT_EQ(d.host.TimerDue(TIMER_ACK), 1200 + 2000);
    d.host.Advance(1999);
    EXPECT_EQ(CommandWrites(d).size(), 2u);  // the first wait would have expired at 2000
}

TEST(DiagnosticCommands, GuardedButtonsIgnoredDuringADispenseCycle) {
    TestConsole c;
    c.Tab(1);
    c.Click(1026);
    c.Type(1028, "05");
    c.Click(1020);
    c.Tab(3);
    for (const Button& b : kButtons)
        if (b.guarded) c.Click(b.id);
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].bytes[3], 'E');
}

TEST(DiagnosticCommands, CassetteRadiosChooseTheCommand) {
    TestConsole c;
    c.Tab(3);
    auto clutch = [&] {
        c.Click(1059);
        auto w = CommandWrites(c);
        const uint8_t command = w.back().bytes[3];
        // An answer with the same byte shows nothing and ends the exchange.
        const std::string message = c.Message(), status = c.Status();
        AckAndAnswer(c, ResponseFrame(command, {}));
        EXPECT_EQ(c.Message(), message);
        EXPECT_EQ(c.Status(), status);
        EXPECT_EQ(c.dlg->GetLink().busy, 0);
        return command;
    };
    EXPECT_EQ(clutch(), 'm');
    c.Click(1126);
    EXPECT_EQ(c.controls().Checked(1125), 0);
    EXPECT_EQ(clutch(), 'n');
    c.Click(1125);
    EXPECT_EQ(c.controls().Checked(1126), 0);
    EXPECT_EQ(clutch(), 'm');
    EXPECT_TRUE(c.host.boxes.empty());
}

TEST(DiagnosticCommands, AnswersAfterTheNewLine) {
    // "Reject Bill" for the lower cassette: the line break at once, "Default" for the answer.
    TestConsole c;
    c.Tab(3);
    c.Click(1126);
    c.Click(1123);
    EXPECT_EQ(Hex(CommandWrites(c).back().bytes), "04 50 02 77 03 22");
    EXPECT_EQ(c.Message(), "Com Port 1 is opened\r\n");
    AckAndAnswer(c, ResponseFrame('w', {'1'}));
    EXPECT_EQ(c.Message(), "Default");
    EXPECT_EQ(c.dlg->GetLink().busy, 0);

    // "RVDT" for the upper cassette: its ten values land on the line that the click started.
    TestConsole d;
    d.Tab(3);
    d.Click(1058);
    AckAndAnswer(d, ResponseFrame('k', {0x80, 0x7F, 0x81, 0x85, 0x7B, 0x80, 0x80, 0x80, 0x80, 0x00}));
    EXPECT_EQ(d.Message(), "Com Port 1 is opened\r\n 00  01  -1  -5  05  00  00  00  00  -128 \r\n");
}
