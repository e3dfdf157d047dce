// Finding command frames in the byte stream.
#include <gtest/gtest.h>

#include "sim_rig.h"
#include "zeda_protocol.h"

namespace zeda::test {
namespace {

using Kind = CommandParser::Kind;

// Feeds every byte; returns the events other than None, in order.
std::vector<CommandParser::Event> FeedAll(CommandParser& p, const Bytes& bytes) {
    std::vector<CommandParser::Event> out;
    for (uint8_t b : bytes) {
        CommandParser::Event e = p.Feed(b);
        if (e.kind != Kind::None) out.push_back(std::move(e));
    }
    return out;
}

TEST(SimProtocol, FramesOfEveryCatalogueLengthAreFound) {
    Bytes calibration(19, '0');
    calibration[0] = 0x15;
    for (const auto& [cmd, data] : std::vector<std::pair<uint8_t, Bytes>>{
             {'F', {}}, {'E', Text("05")}, {'V', Text("0312")}, {0x80, calibration},
             {0x80, Bytes(calibration.begin(), calibration.end() - 2)}}) {
        CommandParser p;
        const auto events = FeedAll(p, Command(cmd, data));
        ASSERT_EQ(events.size(), 1u) << int(cmd);
        EXPECT_EQ(events[0].kind, Kind::Frame);
        EXPECT_EQ(events[0].cmd, cmd);
        EXPECT_EQ(events[0].data, data);
        EXPECT_FALSE(p.InFrame());
    }
    EXPECT_EQ(BuildCommand('F'), (Bytes{0x04, 0x50, 0x02, 0x46, 0x03, 0x13}));
}

TEST(SimProtocol, EtxAndEotInsideCalibrationDataAreData) {
    // Every data byte 0x03 except the leading 0x15: ETX candidates at each allowed length.
    Bytes data(19, 0x03);
    data[0] = 0x15;
    data[10] = 0x04;
    CommandParser p;
    auto events = FeedAll(p, Command(0x80, data));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Frame);
    EXPECT_EQ(events[0].data, data);

    // A short record whose last data byte is 0x03 (where the long form's data would go on).
    Bytes shortData(17, '0');
    shortData[0] = 0x15;
    shortData[16] = 0x03;
    events = FeedAll(p, Command(0x80, shortData));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Frame);
    EXPECT_EQ(events[0].data.size(), 17u);
}

TEST(SimProtocol, BrokenFramesAreReportedAndTheNextOneIsStillFound) {
    CommandParser p;
    Bytes bad = Command('F');
    bad.back() ^= 1;
    auto events = FeedAll(p, bad);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::BadFrame);

    // A frame cut before its ETX, directly followed by a good one: the EOT both ends and begins.
    Bytes cut = Command('E', Text("05"));
    cut.resize(6);
    Bytes stream = cut;
    const Bytes good = Command('G');
    stream.insert(stream.end(), good.begin(), good.end());
    events = FeedAll(p, stream);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, Kind::BadFrame);
    EXPECT_EQ(events[0].raw, cut);
    EXPECT_EQ(events[1].kind, Kind::Frame);
    EXPECT_EQ(events[1].cmd, 'G');

    // A long calibration frame with a wrong BCC is not mistaken for a short one.
    Bytes cal(19, '1');
    cal[0] = 0x15;
    Bytes badCal = Command(0x80, cal);
    badCal.back() ^= 0x20;
    events = FeedAll(p, badCal);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::BadFrame);
}

TEST(SimProtocol, UnknownCommandsEndAtTheFirstEtxAndStallsExpire) {
    CommandParser p;
    auto events = FeedAll(p, Command('Z', Text("abc")));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Frame);
    EXPECT_FALSE(IsKnownCommand('Z'));

    FeedAll(p, {0x04, 'P', 0x02, 'F'});
    EXPECT_TRUE(p.InFrame());
    EXPECT_EQ(p.Expire().kind, Kind::BadFrame);
    FeedAll(p, {0x04, 'P'});
    EXPECT_EQ(p.Expire().kind, Kind::None);
    EXPECT_FALSE(p.InFrame());

    // An endless unknown frame is cut at the console's 30-byte limit.
    Bytes endless = {0x04, 'P', 0x02, 'Z'};
    endless.resize(40, 'x');
    events = FeedAll(p, endless);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].kind, Kind::BadFrame);
    EXPECT_EQ(events[0].raw.size(), kMaxCommandFrame);
}

TEST(SimProtocol, ResponsesNeverCarryFrameBytesInside) {
    const Bytes f = BuildResponse(0x80, {0x01, 0x03, 0x02, 0x9C, 0x00});
    EXPECT_TRUE(WellFormedResponse(f));
    EXPECT_EQ(Bytes(f.begin() + 4, f.end() - 2), (Bytes{0x00, 0x02, 0x02, 0x9C, 0x00}));
}

}  // namespace
}  // namespace zeda::test
