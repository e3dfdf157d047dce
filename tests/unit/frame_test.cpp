// The stored command frame byte for byte (the frame of each button is tested with its page).
#include <gtest/gtest.h>

#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

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
