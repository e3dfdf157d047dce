// The calibration pages: the record that "Set" computes from the "Set Environmant" boxes, what it
// logs, the limit boxes, refused boxes, the four fixed "Notes Init" records and the two requests.
#include <gtest/gtest.h>

#include <cctype>

#include "protocol/link.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

constexpr ConsoleOptions kCalibration{.calibrationTabs = true};

std::vector<Write> CommandWrites(const TestConsole& c) {
    std::vector<Write> out;
    for (const Write& w : c.channel->writes)
        if (w.bytes.size() > 1) out.push_back(w);
    return out;
}

std::string LogText(const std::string& hexUpper) {
    // "04 50 ..." as the Message pane logs it: lower case, each byte followed by a space.
    std::string s;
    for (char ch : hexUpper) s += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s + " ";
}

struct Environment {
    std::string average = "500";
    std::string plus1 = "30", minus1 = "13";
    std::string len1a = "38", len1b = "62";
    std::string plus2 = "", minus2 = "", len2a = "", len2b = "";
};

void FillEnvironment(TestConsole& c, const Environment& e) {
    c.Type(1082, e.average);
    c.Type(1083, e.plus1);
    c.Type(1084, e.minus1);
    c.Type(1095, e.len1a);
    c.Type(1096, e.len1b);
    c.Type(1110, e.plus2);
    c.Type(1111, e.minus2);
    c.Type(1115, e.len2a);
    c.Type(1116, e.len2b);
}

}  // namespace

TEST(CalibrationSet, ComputesLogsAndSendsTheRecord) {
    // ZEDA1000: the second block is nine '0' characters.
    {
        TestConsole c(kCalibration);
        c.Tab(4);
        FillEnvironment(c, {});
        const std::string before = c.Message();
        c.Click(1098);
        EXPECT_EQ(c.controls().Text(1085), "680");
        EXPECT_EQ(c.controls().Text(1086), "459");
        const std::string frame = "04 50 02 80 15 36 38 30 34 35 39 26 3E 00 30 30 30 30 30 30 30 30 30 03 EE";
        EXPECT_EQ(c.Message(), before + "\n\r Upper_low_margin 30\n\r Upper_high_margin 13" + LogText(frame));
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0].bytes), frame);
        EXPECT_EQ(c.dlg->GetLink().state, LinkState::AwaitAck);
        EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 2000);
        EXPECT_TRUE(c.host.boxes.empty());
    }
    // ZEDA2000: the second block carries the typed margins and the packed lengths.
    {
        TestConsole c(kCalibration);
        c.Click(1135);
        c.Tab(4);
        FillEnvironment(c, {.plus2 = "25", .minus2 = "10", .len2a = "40", .len2b = "64"});
        c.Click(1098);
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0].bytes),
                  "04 50 02 80 15 36 38 30 34 35 39 26 3E 00 30 31 39 30 30 3A 40 64 00 03 F8");
        EXPECT_EQ(c.controls().Text(1085), "680");
        EXPECT_EQ(c.controls().Text(1086), "459");
    }
}

TEST(CalibrationSet, LimitBoxes) {
    struct Case {
        Environment e;
        const char* min;
        const char* max;
        const char* limits;  // the six nibble digits of the frame
    };
    const Case cases[] = {
        // Clamped to 0x7F0.
        {{.average = "6ff"}, "7f0", "616", "37 3F 30 36 31 36"},
        // Below 0x100: padded with spaces.
        {{.average = "0a5"}, " d6", " 8f", "30 3D 36 30 38 3F"},
        // A non-digit counts 0.
        {{.average = "5G0"}, "680", "459", "36 38 30 34 35 39"},
        // One-character margins.
        {{.average = "100", .plus1 = "5", .minus1 = "9"}, "10c", " e8", "31 30 3C 30 3E 38"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.e.average);
        TestConsole c(kCalibration);
        c.Tab(4);
        FillEnvironment(c, k.e);
        c.Click(1098);
        EXPECT_EQ(c.controls().Text(1085), k.min);
        EXPECT_EQ(c.controls().Text(1086), k.max);
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(Bytes(w[0].bytes.begin() + 5, w[0].bytes.begin() + 11)), k.limits);
    }
}

TEST(CalibrationSet, InvalidBoxesSendNothing) {
    struct Case {
        const char* name;
        Environment e;
        bool zeda2000;
        bool marginLines;
        const char* min;  // the limit boxes are still recomputed
        const char* max;
    };
    const Case cases[] = {
        // A bad margin box: no margin lines either. The margins stop at the first bad box.
        {"empty plus margin", {.plus1 = ""}, false, false, "500", "500"},
        {"minus margin 100", {.minus1 = "100"}, false, false, "680", "500"},
        {"second-block margin empty", {.plus2 = "", .minus2 = "10", .len2a = "40", .len2b = "64"}, true, false,
         "680", "459"},
        // Before any average was parsed it is 0.
        {"average of two digits, margins bad", {.average = "a5", .plus1 = ""}, false, false, "  0", "  0"},
        // Only the average or a length is bad: the margin lines appear, no frame is logged.
        {"average of two digits", {.average = "a5"}, false, true, "  0", "  0"},
        {"average of four digits", {.average = "0500"}, false, true, "  0", "  0"},
        {"length of one digit", {.len1b = "6"}, false, true, "680", "459"},
        {"second-block length of three digits", {.plus2 = "25", .minus2 = "10", .len2a = "400", .len2b = "64"},
         true, true, "680", "459"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestConsole c(kCalibration);
        if (k.zeda2000) c.Click(1135);
        c.Tab(4);
        FillEnvironment(c, k.e);
        const std::string before = c.Message();
        c.Click(1098);
        EXPECT_TRUE(CommandWrites(c).empty());
        EXPECT_TRUE(c.host.boxes.empty());
        EXPECT_EQ(c.dlg->GetLink().busy, 0);
        EXPECT_EQ(c.Message(), before + (k.marginLines ? "\n\r Upper_low_margin 30\n\r Upper_high_margin 13" : ""));
        EXPECT_EQ(c.controls().Text(1085), k.min);
        EXPECT_EQ(c.controls().Text(1086), k.max);
    }

    // An invalid average keeps the last good one for the limit boxes.
    TestConsole c(kCalibration);
    c.Tab(4);
    FillEnvironment(c, {});
    c.Click(1098);
    ASSERT_EQ(CommandWrites(c).size(), 1u);
    c.Type(1082, "12");
    c.Type(1084, "50");
    c.Click(1098);
    EXPECT_EQ(CommandWrites(c).size(), 1u);
    EXPECT_EQ(c.controls().Text(1085), "680");
    EXPECT_EQ(c.controls().Text(1086), "280");
}

TEST(CalibrationNotesInit, FixedRecords) {
    const char* zeda1000[] = {
        "04 50 02 80 15 37 3F 30 32 38 30 26 3E 30 30 30 30 30 30 30 30 03 DA",
        "04 50 02 80 15 37 3F 30 32 38 30 29 42 30 30 30 30 30 30 30 30 03 A9",
        "04 50 02 80 15 37 3F 30 32 38 30 2D 47 30 30 30 30 30 30 30 30 03 A8",
        "04 50 02 80 15 3F 37 30 32 38 30 30 4C 30 30 30 30 30 30 30 30 03 BE",
    };
    const int buttons[] = {1098, 1099, 1100, 1112};
    for (int type = 0; type < 4; ++type) {
        SCOPED_TRACE(type + 1);
        TestConsole c(kCalibration);
        c.Tab(5);
        const std::string before = c.Message();
        c.Click(buttons[type]);
        auto w = CommandWrites(c);
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(w[0].bytes.size(), 23u);
        EXPECT_EQ(Hex(w[0].bytes), zeda1000[type]);
        // Only "TYPE 1" logs its frame.
        EXPECT_EQ(c.Message(), type == 0 ? before + LogText(zeda1000[0]) : before);
        EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 2000);
    }

    TestConsole c(kCalibration);
    c.Click(1135);
    c.Tab(5);
    c.Click(1099);
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(Hex(w[0].bytes),
              "04 50 02 80 15 37 3F 30 32 38 30 29 42 30 37 3F 30 32 38 30 29 42 30 03 C0");
}

TEST(CalibrationRequests, SentEvenWhileBusy) {
    TestConsole c(kCalibration);
    c.Tab(4);
    c.Click(1099);
    c.host.Advance(700);
    c.Click(1100);
    c.host.Advance(300);
    c.Click(1099);
    auto w = CommandWrites(c);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(Hex(w[0].bytes), "04 50 02 81 03 D4");
    EXPECT_EQ(Hex(w[1].bytes), "04 50 02 82 03 D7");
    EXPECT_EQ(Hex(w[2].bytes), "04 50 02 81 03 D4");
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1000 + 2000);
    // Nothing logged by the requests; "Set" and the requests act only on pages 4 and 5.
    EXPECT_EQ(c.Message(), "Com Port 1 is opened");
    c.Tab(3);
    c.Click(1098);
    c.Click(1112);
    EXPECT_EQ(CommandWrites(c).size(), 3u);

    // The answers land in the page's boxes.
    TestConsole d(kCalibration);
    d.Tab(4);
    d.Click(1100);
    d.host.Deliver({ACK});
    d.host.Deliver(ResponseFrame(0x82, {'0', '5', '0', '0'}));
    EXPECT_EQ(d.controls().Text(1082), "500");
    d.Click(1099);
    d.host.Deliver({ACK});
    d.host.Deliver(ResponseFrame(0x81, {0x36, 0x38, 0x30, 0x34, 0x35, 0x39, 38, 62, 0x30,
                                        0x37, 0x3F, 0x30, 0x32, 0x38, 0x30, 0x29, 0x42, 0x30}));
    EXPECT_EQ(d.controls().Text(1085), "680");
    EXPECT_EQ(d.controls().Text(1086), "459");
    EXPECT_EQ(d.controls().Text(1095), "38");
    EXPECT_EQ(d.controls().Text(1096), "62");
    EXPECT_EQ(d.controls().Text(1113), "7F0");
    // With the margins of the page (30 and 13) the read values can be written back.
    d.Click(1098);
    auto w2 = CommandWrites(d);
    ASSERT_EQ(w2.size(), 3u);
    EXPECT_EQ(Hex(w2[2].bytes), "04 50 02 80 15 36 38 30 34 35 39 26 3E 00 30 30 30 30 30 30 30 30 30 03 EE");
}
