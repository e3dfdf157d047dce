// The calibration pages: "Set" and its limits, refused boxes, the "Notes Init" records, the requests.
#include <gtest/gtest.h>

#include <cctype>

#include "protocol/link.h"
#include "support/test_host.h"
#include "zeda_module.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

constexpr ConsoleOptions kCalibration{.calibrationTabs = true};
const std::string kOpened = "Com Port 1 is opened";
const std::string kMarginLines = "\n\r Upper_low_margin 30\n\r Upper_high_margin 13";
const std::string kSet1000 = "04 50 02 80 15 36 38 30 34 35 39 26 3E 00 30 30 30 30 30 30 30 30 30 03 EE";

// A frame as the Message pane logs it: lower case, each byte followed by a space.
std::string LogText(const std::string& hexUpper) {
    std::string s;
    for (char ch : hexUpper) s += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s + " ";
}

struct Environment {
    std::string average = "500", plus1 = "30", minus1 = "13", len1a = "38", len1b = "62";
    std::string plus2 = "", minus2 = "", len2a = "", len2b = "", average2 = "";
};

// Chooses the model, fills "Set Environmant" and presses "Set".
void Set(TestConsole& c, const Environment& e, bool zeda2000 = false) {
    if (zeda2000) c.Click(1135);
    c.Tab(4);
    for (auto [id, text] : {std::pair<int, const std::string&>{1082, e.average}, {1083, e.plus1}, {1084, e.minus1},
                            {1095, e.len1a}, {1096, e.len1b}, {1110, e.plus2}, {1111, e.minus2}, {1115, e.len2a},
                            {1116, e.len2b}, {1097, e.average2}})
        c.Type(id, text);
    c.Click(1098);
}

}  // namespace

TEST(CalibrationSet, ComputesLogsAndSendsTheRecord) {
    TestConsole c(kCalibration);
    Set(c, {});
    EXPECT_EQ(c.Texts({1085, 1086}), (Strings{"680", "459"}));
    EXPECT_EQ(c.Message(), kOpened + kMarginLines + LogText(kSet1000));
    EXPECT_EQ(c.Frames(), Strings{kSet1000});  // ZEDA1000: the second block is nine '0'
    EXPECT_EQ(c.link().state, LinkState::AwaitAck);
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 2000);
    EXPECT_TRUE(c.host.boxes.empty());

}

TEST(CalibrationSet, SecondBlockFromItsOwnAverage) {
    // ZEDA2000: the second block has the first block's layout, its limits computed from box 1097
    // with its own margins, its lengths plain; the first block stays as it was.
    const std::string first = "04 50 02 80 15 36 38 30 34 35 39 26 3E 00 ";
    struct Case {
        const char* name;
        Environment e;
        const char* frame;  // the second block, ETX and BCC; empty: nothing is sent
        const char* min2;
        const char* max2;
    };
    const Case cases[] = {
        {"typed 41/66, margins 25/10", {.plus2 = "25", .minus2 = "10", .len2a = "41", .len2b = "66", .average2 = "400"},
         "35 30 30 33 39 39 29 42 00 03 B3", "500", "399"},
        {"limit 1 capped", {.plus2 = "30", .minus2 = "13", .len2a = "38", .len2b = "62", .average2 = "6ff"},
         "37 3F 30 36 31 36 26 3E 00 03 CF", "7f0", "616"},
        {"limits below 0x100", {.plus2 = "30", .minus2 = "13", .len2a = "38", .len2b = "62", .average2 = "0a5"},
         "30 3D 36 30 38 3F 26 3E 00 03 CA", " d6", " 8f"},
        {"second average missing", {.plus2 = "25", .minus2 = "10", .len2a = "41", .len2b = "66"}, "", "  0", "  0"},
        {"second average of two digits", {.plus2 = "25", .minus2 = "10", .len2a = "41", .len2b = "66", .average2 = "a5"},
         "", "  0", "  0"},
        // "??" reads as 165 percent: limit 2 would be negative.
        {"second minus margin ??", {.plus2 = "25", .minus2 = "??", .len2a = "41", .len2b = "66", .average2 = "400"}, "",
         "500", "400"},
        {"first minus margin ??", {.minus1 = "??", .plus2 = "25", .minus2 = "10", .len2a = "41", .len2b = "66",
          .average2 = "400"}, "", "400", "400"},  // the margins stop at the first bad box
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestConsole c(kCalibration);
        Set(c, k.e, true);
        EXPECT_EQ(c.Frames(), *k.frame ? Strings{first + k.frame} : Strings{});
        EXPECT_EQ(c.Texts({1113, 1114}), (Strings{k.min2, k.max2}));
        // Only a missing second average is told in the Message pane; no box either way.
        const bool told = c.Message().find("Nothing sent: the lower RVDT Avarage (1097)") != std::string::npos;
        EXPECT_EQ(told, std::string(k.name).starts_with("second average")) << c.Message();
        EXPECT_TRUE(c.host.boxes.empty());
    }
    // Under ZEDA1000 the second block's boxes are not read: "??" and no average there change nothing.
    TestConsole c(kCalibration);
    Set(c, {.plus2 = "??", .minus2 = "??"});
    EXPECT_EQ(c.Frames(), Strings{kSet1000});
    EXPECT_EQ(c.Texts({1113, 1114}), (Strings{"", ""}));
}

TEST(CalibrationSet, LimitBoxes) {
    struct Case {
        Environment e;
        const char* min;
        const char* max;
        const char* limits;  // the six nibble digits of the frame
    };
    const Case cases[] = {
        {{.average = "6ff"}, "7f0", "616", "37 3F 30 36 31 36"},                          // clamped to 0x7F0
        {{.average = "0a5"}, " d6", " 8f", "30 3D 36 30 38 3F"},                          // padded with spaces
        {{.average = "5G0"}, "680", "459", "36 38 30 34 35 39"},                          // a non-digit counts 0
        {{.average = "100", .plus1 = "5", .minus1 = "9"}, "10c", " e8", "31 30 3C 30 3E 38"},  // one-digit margins
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.e.average);
        TestConsole c(kCalibration);
        Set(c, k.e);
        EXPECT_EQ(c.Texts({1085, 1086}), (Strings{k.min, k.max}));
        auto w = c.CommandWrites();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(Bytes(w[0].bytes.begin() + 5, w[0].bytes.begin() + 11)), k.limits);
    }
}

TEST(CalibrationSet, InvalidBoxesSendNothing) {
    struct Case {
        const char* name;
        Environment e;
        bool zeda2000, marginLines;
        const char* min;  // the limit boxes are still recomputed
        const char* max;
    };
    const Case cases[] = {
        // A bad margin box: no margin lines either. The margins stop at the first bad box.
        {"empty plus margin", {.plus1 = ""}, false, false, "500", "500"},
        {"minus margin 100", {.minus1 = "100"}, false, false, "680", "500"},
        {"second-block margin empty", {.minus2 = "10", .len2a = "40", .len2b = "64", .average2 = "400"}, true, false, "680", "459"},
        // Before any average was parsed it is 0.
        {"average of two digits, margins bad", {.average = "a5", .plus1 = ""}, false, false, "  0", "  0"},
        // Only the average or a length is bad: the margin lines appear, no frame is logged.
        {"average of two digits", {.average = "a5"}, false, true, "  0", "  0"},
        {"average of four digits", {.average = "0500"}, false, true, "  0", "  0"},
        {"length of one digit", {.len1b = "6"}, false, true, "680", "459"},
        {"second-block length of three digits", {.plus2 = "25", .minus2 = "10", .len2a = "400", .len2b = "64", .average2 = "400"}, true,
         true, "680", "459"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestConsole c(kCalibration);
        Set(c, k.e, k.zeda2000);
        EXPECT_TRUE(c.channel->writes.empty());
        EXPECT_TRUE(c.host.boxes.empty());
        EXPECT_EQ(c.link().busy, 0);
        EXPECT_EQ(c.Message(), kOpened + (k.marginLines ? kMarginLines : ""));
        EXPECT_EQ(c.Texts({1085, 1086}), (Strings{k.min, k.max}));
    }

    // An invalid average keeps the last good one for the limit boxes.
    TestConsole c(kCalibration);
    Set(c, {});
    c.Do("set 1082 12; set 1084 50; click 1098");
    EXPECT_EQ(c.Frames().size(), 1u);
    EXPECT_EQ(c.Texts({1085, 1086}), (Strings{"680", "280"}));
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
        c.Click(buttons[type]);
        EXPECT_EQ(c.Frames(), Strings{zeda1000[type]});  // 23 bytes
        EXPECT_EQ(c.Message(), type == 0 ? kOpened + LogText(zeda1000[0]) : kOpened);  // only "TYPE 1" logs
        EXPECT_EQ(c.host.TimerDue(TIMER_ACK), c.host.now + 2000);
    }

    TestConsole c(kCalibration);
    c.Do("click 1135; tab 5; click 1099");
    EXPECT_EQ(c.Frames(), Strings{"04 50 02 80 15 37 3F 30 32 38 30 29 42 30 37 3F 30 32 38 30 29 42 30 03 C0"});
}

TEST(CalibrationRequests, SentEvenWhileBusy) {
    TestConsole c(kCalibration);
    c.Do("tab 4; click 1099; wait 700; click 1100; wait 300; click 1099");
    EXPECT_EQ(c.Frames(), (Strings{"04 50 02 81 03 D4", "04 50 02 82 03 D7", "04 50 02 81 03 D4"}));
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1000 + 2000);
    EXPECT_EQ(c.link().busy, 1);
    // Nothing logged by the requests; "Set" and the requests act only on pages 4 and 5.
    EXPECT_EQ(c.Message(), kOpened);
    c.Do("tab 3; click 1098; click 1112");
    EXPECT_EQ(c.Frames().size(), 3u);

    // The answers land in the page's boxes, and with the page's margins can be written back.
    TestConsole d(kCalibration);
    d.Do("tab 4; click 1100; ack");
    d.Receive(0x82, {'0', '5', '0', '0'});
    EXPECT_EQ(d.controls().Text(1082), "500");
    d.Do("click 1099; ack");
    d.Receive(0x81, {0x36, 0x38, 0x30, 0x34, 0x35, 0x39, 38, 62, 0x30, 0x37, 0x3F, 0x30, 0x32, 0x38, 0x30, 0x29,
                     0x42, 0x30});
    EXPECT_EQ(d.Texts({1085, 1086, 1095, 1096, 1113}), (Strings{"680", "459", "38", "62", "7F0"}));
    d.Click(1098);
    EXPECT_EQ(d.Frames().back(), kSet1000);
    EXPECT_EQ(d.Frames().size(), 3u);
}
