// The diagnostic and status buttons: frames for either cassette, the busy guard, the line breaks.
#include <gtest/gtest.h>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

struct Button {
    int page, id;
    const char* name;
    const char* upperFrame;
    const char* lowerFrame;
    bool guarded;
    bool newLine;  // appends "\r\n" to the Message pane after sending
};

const Button kButtons[] = {
    {0, 1050, "STATUS", "04 50 02 46 03 13", "04 50 02 46 03 13", true, false},
    {1, 1051, "Purge", "04 50 02 44 03 11", "04 50 02 44 03 11", true, false},
    {3, 1054, "DIVERT", "04 50 02 60 03 35", "04 50 02 60 03 35", true, false},
    {3, 1055, "BLDC SPEED", "04 50 02 62 03 37", "04 50 02 62 03 37", true, false},
    {3, 1059, "CLUTCH", "04 50 02 6D 03 38", "04 50 02 6E 03 3B", true, false},
    {3, 1057, "DIVERTING", "04 50 02 69 03 3C", "04 50 02 6A 03 3F", true, false},
    {3, 1056, "BILL LEN", "04 50 02 67 03 32", "04 50 02 68 03 3D", true, true},
    {3, 1058, "RVDT", "04 50 02 6B 03 3E", "04 50 02 6C 03 39", true, true},
    {3, 1060, "ROM Ver", "04 50 02 47 03 12", "04 50 02 47 03 12", true, false},
    {3, 1066, "RVDT RANGE", "04 50 02 70 03 25", "04 50 02 70 03 25", true, false},
    {3, 1067, "RVDT Value", "04 50 02 71 03 24", "04 50 02 71 03 24", false, false},
    {3, 1069, "READ DIP", "04 50 02 72 03 27", "04 50 02 72 03 27", false, false},
    {3, 1123, "Reject Bill", "04 50 02 76 03 23", "04 50 02 77 03 22", true, true},
};

}  // namespace

TEST(DiagnosticCommands, EveryButtonSendsItsFrameForEitherCassette) {
    for (const Button& b : kButtons) {
        for (bool lower : {false, true}) {
            SCOPED_TRACE(std::string(b.name) + (lower ? " lower" : " upper"));
            TestConsole c;
            c.Tab(3);
            if (lower) c.Click(1126);
            EXPECT_EQ(c.Checks({1125, 1126}), lower ? "01" : "10");
            c.Tab(b.page);
            const std::string messageBefore = c.Message();
            c.host.Advance(250);
            c.Click(b.id);
            EXPECT_EQ(c.Frames(), Strings{lower ? b.lowerFrame : b.upperFrame});
            EXPECT_EQ(c.link().state, LinkState::AwaitAck);
            EXPECT_EQ(c.link().busy, 1);
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
        c.Do("click 1050; tab " + std::to_string(b.page) + "; wait 1500");
        const std::string messageBefore = c.Message();
        c.Click(b.id);
        if (b.guarded) {
            EXPECT_EQ(c.Frames().size(), 1u);
            EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 2000);
            EXPECT_EQ(c.Message(), messageBefore);
        } else {
            EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1500 + 2000);
            c.host.Advance(2000);  // a later resend sends the new frame
            EXPECT_EQ(c.Frames(), (Strings{kButtons[0].upperFrame, b.upperFrame, b.upperFrame}));
        }
    }
}
