// Finding command frames in the byte stream.
#include <gtest/gtest.h>

#include "sim_rig.h"
#include "zeda_protocol.h"

namespace zeda::test {
namespace {

using Kind = CommandParser::Kind;

std::vector<CommandParser::Event> FeedAll(CommandParser& p, const Bytes& bytes) {
    std::vector<CommandParser::Event> out;
    for (uint8_t b : bytes)
        if (CommandParser::Event e = p.Feed(b); e.kind != Kind::None) out.push_back(std::move(e));
    return out;
}

TEST(SimProtocol, FramesEndWhereTheirCommandEndsNotAtTheFirstEtx) {
    Bytes longData(19, 0x03);  // an ETX candidate at every position where a frame could end
    longData[0] = 0x15;
    Bytes shortData(17, 0x03);
    shortData[0] = 0x15;
    Bytes stream = Command(0x80, longData);
    for (uint8_t b : Command(0x80, shortData)) stream.push_back(b);
    Bytes cut = Command('E', Text("05"));  // cut before its ETX; the next frame's EOT ends it
    cut.resize(6);
    for (uint8_t b : cut) stream.push_back(b);
    for (uint8_t b : Command('Z', Text("ab"))) stream.push_back(b);  // unknown: the first ETX ends it
    CommandParser p;
    const auto events = FeedAll(p, stream);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].data, longData);
    EXPECT_EQ(events[1].data, shortData);
    EXPECT_EQ(events[2].kind, Kind::BadFrame);
    EXPECT_EQ(events[2].raw, cut);
    EXPECT_EQ(events[3].kind, Kind::Frame);
    EXPECT_EQ(events[3].data, Text("ab"));

    // A long calibration frame with a wrong BCC is not taken for a short one; an endless frame stops at
    // the console's 30-byte limit.
    Bytes bad = Command(0x80, Bytes(19, '1'));
    bad.back() ^= 0x20;
    Bytes endless = {0x04, 'P', 0x02, 'Z'};
    endless.resize(40, 'x');
    for (const Bytes& b : {bad, endless}) {
        const auto e = FeedAll(p, b);
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(e[0].kind, Kind::BadFrame);
        EXPECT_LE(e[0].raw.size(), kMaxCommandFrame);
    }
    EXPECT_EQ(BuildCommand('F'), (Bytes{0x04, 0x50, 0x02, 0x46, 0x03, 0x13}));
}

}  // namespace
}  // namespace zeda::test
