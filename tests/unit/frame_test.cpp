// Command frames byte for byte: the stored frame builder, the BCC, and the frame each button of
// the console writes, clicked through the test host as an operator would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

std::string StoredHex(const StoredFrame& f) { return Hex(Bytes(f.bytes, f.bytes + f.length)); }

// Clicks `button` on a fresh console (after choosing a page and optionally the cassette radio) and
// returns the one frame it wrote.
std::string FrameOfButton(int page, int button, int cassetteRadio = 0, ConsoleOptions options = {}) {
    TestConsole c(options);
    c.Tab(page);
    if (cassetteRadio != 0) c.Click(cassetteRadio);
    c.TakeWrites();
    c.Click(button);
    auto w = c.TakeWrites();
    if (w.size() != 1) return "writes: " + std::to_string(w.size());
    EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 2000) << "button " << button;
    EXPECT_EQ(c.dlg->GetLink().busy, 1) << "button " << button;
    return Hex(w[0]);
}

}  // namespace

TEST(Frames, BuilderLayoutAndBcc) {
    StoredFrame f;
    f.Build(cmd::Status);
    EXPECT_EQ(StoredHex(f), "04 50 02 46 03 13");
    EXPECT_EQ(f.length, 6);
    EXPECT_EQ(f.bcc, 0x13);

    // Bytes above 0x7F take part in the plain 8-bit exclusive OR.
    const uint8_t high[] = {0x15, 0xFF, 0x80};
    f.Build(0x80, high, sizeof high);
    EXPECT_EQ(StoredHex(f), "04 50 02 80 15 FF 80 03 BF");
    EXPECT_EQ(Bcc(f.bytes, f.length), 0);  // the whole frame including its BCC folds to zero

    // A new build replaces the old frame entirely.
    f.Build(cmd::ReadDip);
    EXPECT_EQ(StoredHex(f), "04 50 02 72 03 27");

    // At most 19 data bytes are taken: the longest frame is 25 bytes and fits the buffer.
    std::vector<uint8_t> many(24, '7');
    f.Build(cmd::WriteCalibration, many.data(), many.size());
    EXPECT_EQ(f.length, 25);
    EXPECT_EQ(f.bytes[23], ETX);
    EXPECT_EQ(Bcc(f.bytes, f.length), 0);

    // Piecewise building gives the same bytes as the one-call build.
    StoredFrame g;
    g.Begin(0x80);
    for (uint8_t b : high) g.Append(b);
    g.Finish();
    EXPECT_EQ(StoredHex(g), "04 50 02 80 15 FF 80 03 BF");
    EXPECT_EQ(g.bcc, 0xBF);
}

TEST(Frames, DiagnosticButtonsWriteTheirCatalogueFrames) {
    EXPECT_EQ(FrameOfButton(0, 1050), "04 50 02 46 03 13");  // STATUS
    EXPECT_EQ(FrameOfButton(1, 1051), "04 50 02 44 03 11");  // Purge
    EXPECT_EQ(FrameOfButton(3, 1054), "04 50 02 60 03 35");  // DIVERT
    EXPECT_EQ(FrameOfButton(3, 1055), "04 50 02 62 03 37");  // BLDC SPEED
    EXPECT_EQ(FrameOfButton(3, 1060), "04 50 02 47 03 12");  // ROM Ver
    EXPECT_EQ(FrameOfButton(3, 1066), "04 50 02 70 03 25");  // RVDT RANGE
    EXPECT_EQ(FrameOfButton(3, 1067), "04 50 02 71 03 24");  // RVDT Value
    EXPECT_EQ(FrameOfButton(3, 1069), "04 50 02 72 03 27");  // READ DIP

    // Cassette commands: "UPPER" (1125) is set at start; "LOWER" (1126) picks the second code.
    EXPECT_EQ(FrameOfButton(3, 1059), "04 50 02 6D 03 38");        // CLUTCH upper
    EXPECT_EQ(FrameOfButton(3, 1059, 1126), "04 50 02 6E 03 3B");  // CLUTCH lower
    EXPECT_EQ(FrameOfButton(3, 1057, 1125), "04 50 02 69 03 3C");  // DIVERTING upper
    EXPECT_EQ(FrameOfButton(3, 1057, 1126), "04 50 02 6A 03 3F");  // DIVERTING lower
    EXPECT_EQ(FrameOfButton(3, 1056, 1125), "04 50 02 67 03 32");  // BILL LEN upper
    EXPECT_EQ(FrameOfButton(3, 1056, 1126), "04 50 02 68 03 3D");  // BILL LEN lower
    EXPECT_EQ(FrameOfButton(3, 1058, 1125), "04 50 02 6B 03 3E");  // RVDT upper
    EXPECT_EQ(FrameOfButton(3, 1058, 1126), "04 50 02 6C 03 39");  // RVDT lower
    EXPECT_EQ(FrameOfButton(3, 1123, 1125), "04 50 02 76 03 23");  // Reject Bill upper
    EXPECT_EQ(FrameOfButton(3, 1123, 1126), "04 50 02 77 03 22");  // Reject Bill lower
}

TEST(Frames, CassetteRadiosSwitchBackAndForth) {
    TestConsole c;
    c.Tab(3);
    auto clutch = [&c] {
        c.TakeWrites();
        c.Click(1059);
        auto w = c.TakeWrites();
        // Let the exchange end so the next guarded click sends again.
        c.host.Deliver({ACK});
        c.host.Deliver(ResponseFrame(w.empty() ? 'm' : w[0][3], {'1'}));
        return w.size() == 1 ? Hex(w[0]) : "none";
    };
    EXPECT_EQ(clutch(), "04 50 02 6D 03 38");
    c.Click(1126);
    EXPECT_EQ(c.controls().Checked(1125), 0);
    EXPECT_EQ(clutch(), "04 50 02 6E 03 3B");
    c.Click(1125);
    EXPECT_EQ(c.controls().Checked(1126), 0);
    EXPECT_EQ(clutch(), "04 50 02 6D 03 38");
}

TEST(Frames, CalibrationRequestsHaveHighCommandBytes) {
    ConsoleOptions withTabs{.calibrationTabs = true};
    EXPECT_EQ(FrameOfButton(4, 1099, 0, withTabs), "04 50 02 81 03 D4");  // REQ SEEPROM
    EXPECT_EQ(FrameOfButton(4, 1100, 0, withTabs), "04 50 02 82 03 D7");  // REQ AVERAGE

    // "TYPE 2" on "Notes Init": both blocks with ZEDA2000, seven '0' with ZEDA1000.
    {
        TestConsole c(withTabs);
        c.Tab(1);
        c.Click(1135);
        c.Tab(5);
        c.TakeWrites();
        c.Click(1099);
        auto w = c.TakeWrites();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0]),
                  "04 50 02 80 15 37 3F 30 32 38 30 29 42 30 37 3F 30 32 38 30 29 42 30 03 C0");
    }
    {
        TestConsole c(withTabs);
        c.Tab(5);
        c.TakeWrites();
        c.Click(1099);
        auto w = c.TakeWrites();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0]), "04 50 02 80 15 37 3F 30 32 38 30 29 42 30 30 30 30 30 30 30 30 03 A9");
    }
}

TEST(Frames, DispenseFramesCarryTheCountDigits) {
    {
        TestConsole c;
        c.Tab(1);
        c.Click(1026);  // "UPPER"
        c.Type(1028, "5");
        c.TakeWrites();
        c.Click(1020);
        auto w = c.TakeWrites();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0]), "04 50 02 45 30 35 03 15");
        EXPECT_EQ(c.host.TimerDue(TIMER_ACK), 1000);  // first cycle of a run
    }
    {
        TestConsole c;
        c.Tab(1);
        c.Click(1135);  // ZEDA2000 enables the lower cassette
        c.Click(1026);
        c.Click(1027);
        c.Type(1028, "3");
        c.Type(1029, "12");
        c.TakeWrites();
        c.Click(1020);
        auto w = c.TakeWrites();
        ASSERT_EQ(w.size(), 1u);
        EXPECT_EQ(Hex(w[0]), "04 50 02 56 30 33 31 32 03 03");
    }
}
