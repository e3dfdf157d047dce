// The module's answers and bookkeeping, without a line in between.
#include <gtest/gtest.h>

#include "sim_rig.h"
#include "zeda_module.h"

namespace zeda::test {
namespace {

Bytes DataOf(const Reply& r) { return Bytes(r.frame.begin() + 4, r.frame.end() - 2); }

Reply Ask(Module& m, uint8_t cmd, const std::string& data = {}) {
    const std::optional<Reply> r = m.Execute(cmd, Text(data));
    EXPECT_TRUE(r.has_value());
    EXPECT_TRUE(WellFormedResponse(r->frame)) << "command " << int(cmd);
    return *r;
}

unsigned Dec2(const Bytes& d, std::size_t i) { return (d[i] & 0x0F) * 10u + (d[i + 1] & 0x0F); }

SimOptions ModuleOptions(int model = 2000) {
    SimOptions o;
    o.model = model;
    o.rejectRate = 0.0;
    o.seed = 7;
    return o;
}

TEST(SimModule, UpperDispenseCountsNotesAndReportsTheCassetteRunningOut) {
    SimOptions o = ModuleOptions();
    o.notesUpper = 12;
    Module m(o);

    Reply r = Ask(m, 'E', "05");
    ASSERT_EQ(r.frame.size(), 14u);
    EXPECT_EQ(DataOf(r), Text("0505" "1" "0" "00"));
    EXPECT_EQ(r.workMs, 300u + 5 * 120u);
    EXPECT_EQ(m.State().notesUpper, 7u);

    r = Ask(m, 'E', "10");  // only seven left: they are paid out, then "BILL End UPPER"
    EXPECT_EQ(Dec2(DataOf(r), 2), 7u);
    EXPECT_EQ(DataOf(r)[4], 0x38);
    EXPECT_EQ(DataOf(r)[5], '1');
    EXPECT_EQ(m.State().lastError, 0x38);

    r = Ask(m, 'E', "01");
    EXPECT_EQ(Dec2(DataOf(r), 2), 0u);
    EXPECT_EQ(DataOf(r)[4], 0x38);
    EXPECT_EQ(m.State().dispenseCycles, 3u);

    r = Ask(m, 'E', "00");  // nothing asked, nothing wrong
    EXPECT_EQ(DataOf(r)[4], '1');
    EXPECT_EQ(DataOf(r)[5], '1');
}

TEST(SimModule, BothCassettesUseTheTwentyOneByteLayout) {
    SimOptions o = ModuleOptions();
    o.notesUpper = 100;
    o.notesLower = 4;
    Module m(o);
    Reply r = Ask(m, 'V', "0312");
    ASSERT_EQ(r.frame.size(), 21u);
    const Bytes d = DataOf(r);
    EXPECT_EQ(Dec2(d, 0), 3u);
    EXPECT_EQ(Dec2(d, 2), 3u);   // upper dispensed
    EXPECT_EQ(Dec2(d, 4), 12u);
    EXPECT_EQ(Dec2(d, 6), 4u);   // lower dispensed, then it ran out
    EXPECT_EQ(d[8], 0x40);       // "BILL End LOWER"
    EXPECT_EQ(d[9], '0');
    EXPECT_EQ(d[10], '1');
    EXPECT_EQ(Dec2(d, 11), 0u);
    EXPECT_EQ(Dec2(d, 13), 0u);
    EXPECT_EQ(r.dispensed, 7u);

    r = Ask(m, 'U', "01");
    ASSERT_EQ(r.frame.size(), 14u);
    EXPECT_EQ(DataOf(r)[4], 0x40);
    EXPECT_EQ(DataOf(r)[5], '1');
}

TEST(SimModule, RefusedDispensesMoveNothing) {
    SimOptions o = ModuleOptions();
    o.lowerPresent = false;
    Module m(o);
    EXPECT_EQ(DataOf(Ask(m, 'E', "61"))[4], 0x3B);  // above 60
    EXPECT_EQ(DataOf(Ask(m, 'V', "0070"))[8], 0x3B);
    EXPECT_EQ(DataOf(Ask(m, 'U', "01"))[4], 0x46);  // lower cassette not inserted
    EXPECT_EQ(m.State().notesUpper, o.notesUpper);
    EXPECT_EQ(DataOf(Ask(m, 'E', "60"))[4], '1');
    EXPECT_EQ(m.State().notesUpper, o.notesUpper - 60);

    SimOptions one = ModuleOptions(1000);
    Module m1(one);
    Reply u = Ask(m1, 'U', "01");
    ASSERT_EQ(u.frame.size(), 14u);
    EXPECT_EQ(DataOf(u)[4], 0x46);
    Reply v = Ask(m1, 'V', "0101");
    ASSERT_EQ(v.frame.size(), 21u);
    EXPECT_EQ(DataOf(v)[8], 0x46);
    EXPECT_EQ(m1.State().notesUpper, one.notesUpper);

    SimOptions noUpper = ModuleOptions();
    noUpper.upperPresent = false;
    Module m2(noUpper);
    EXPECT_EQ(DataOf(Ask(m2, 'E', "01"))[4], 0x45);
}

TEST(SimModule, RejectedNotesLeaveTheCassetteAndAreAnnouncedOneByOne) {
    SimOptions o = ModuleOptions();
    o.rejectRate = 0.5;
    o.maxRejects = 98;
    o.notesUpper = 500;
    Module m(o);
    Reply r = Ask(m, 'E', "40");
    const Bytes d = DataOf(r);
    EXPECT_EQ(d[4], '1');
    EXPECT_EQ(Dec2(d, 2), 40u);
    const unsigned rejected = Dec2(d, 6);
    EXPECT_GT(rejected, 0u);
    EXPECT_EQ(r.rejected, rejected);
    EXPECT_EQ(m.State().notesUpper, 500u - 40u - rejected);
    EXPECT_EQ(m.State().rejectTray, rejected);
    EXPECT_EQ(r.workMs, 300u + (40u + rejected) * 120u);
    ASSERT_EQ(r.notices.size(), rejected);
    uint32_t last = 0;
    for (const Notice& n : r.notices) {
        ASSERT_EQ(n.bytes.size(), 3u);
        EXPECT_EQ(n.bytes[0], 0x01);
        EXPECT_EQ(n.bytes[1], 0x9C);
        EXPECT_TRUE(Module::IsRejectReason(n.bytes[2]));
        EXPECT_GT(n.atMs, last);
        EXPECT_LE(n.atMs, r.workMs);
        last = n.atMs;
    }
}

TEST(SimModule, TooManyRejectsStopTheDispenseWithOverReject) {
    SimOptions o = ModuleOptions();
    o.rejectRate = 1.0;
    o.maxRejects = 3;
    Module m(o);
    const Bytes d = DataOf(Ask(m, 'E', "05"));
    EXPECT_EQ(d[4], 0x44);
    EXPECT_EQ(Dec2(d, 2), 0u);
    EXPECT_EQ(Dec2(d, 6), 4u);
}

TEST(SimModule, ChosenCycleAnswersTheChosenCode) {
    SimOptions o = ModuleOptions();
    o.faults.errorAt = {{2, 0x3A}};
    Module m(o);
    EXPECT_EQ(DataOf(Ask(m, 'E', "01"))[4], '1');
    const Reply r = Ask(m, 'V', "0101");
    EXPECT_EQ(DataOf(r)[8], 0x3A);
    EXPECT_TRUE(r.injectedError);
    EXPECT_EQ(r.dispensed, 0u);
    EXPECT_EQ(DataOf(Ask(m, 'E', "01"))[4], '1');
    EXPECT_EQ(m.State().notesUpper, o.notesUpper - 2);
}

TEST(SimModule, StatusBitsFollowTheModelAndNeverLookLikeFrameBytes) {
    SimOptions o = ModuleOptions();
    o.notesUpper = 5;
    o.notesLower = 9;
    o.nearEnd = 10;
    Module two(o);
    EXPECT_EQ(DataOf(Ask(two, 'F')), (Bytes{'0', 0x00, 0x40, 0x26}));
    Ask(two, 'i');  // one note into the reject tray
    EXPECT_EQ(DataOf(Ask(two, 'F'))[3], 0x66);
    Ask(two, 'E', "09");  // the four left are paid, then "BILL End UPPER"
    EXPECT_EQ(DataOf(Ask(two, 'F'))[1], 0x38);
    Ask(two, 'D');  // purge clears the error and the tray
    EXPECT_EQ(DataOf(Ask(two, 'F')), (Bytes{'0', 0x00, 0x40, 0x26}));

    SimOptions one = ModuleOptions(1000);
    Module m1(one);
    EXPECT_EQ(DataOf(Ask(m1, 'F')), (Bytes{'0', 0x00, 0x00, 0x02}));
    Ask(m1, 'v');
    EXPECT_EQ(DataOf(Ask(m1, 'F'))[3], 0x83) << "tray and cassette would read 0x03";
    one.upperPresent = false;
    Module bare(one);
    EXPECT_EQ(DataOf(Ask(bare, 'v')), Bytes{0x45});
    EXPECT_EQ(DataOf(Ask(bare, 'F'))[3], 0x00);
}

TEST(SimModule, DiagnosticAnswersHaveTheDecodedLayouts) {
    SimOptions o = ModuleOptions();
    o.dipSwitches = 0xA5;
    Module m(o);

    Bytes d = DataOf(Ask(m, 'G'));
    ASSERT_EQ(d.size(), 8u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 4), Text("2.07"));
    for (int i = 4; i < 8; ++i) EXPECT_EQ(d[i] & 0xF0, 0x30);

    d = DataOf(Ask(m, 'b'));
    ASSERT_EQ(d.size(), 4u);
    const unsigned speed = (d[0] & 15u) << 12 | (d[1] & 15u) << 8 | (d[2] & 15u) << 4 | (d[3] & 15u);
    EXPECT_NEAR(speed, 2400, 20);

    d = DataOf(Ask(m, 'h'));
    ASSERT_EQ(d.size(), 12u);
    unsigned sum = 0;
    for (int i = 0; i < 6; ++i) sum += d[i];
    EXPECT_EQ((d[8] & 15u) << 12 | (d[9] & 15u) << 8 | (d[10] & 15u) << 4 | (d[11] & 15u), sum);
    const auto rvdt = static_cast<int8_t>((d[6] & 15) << 4 | (d[7] & 15));
    EXPECT_LE(std::abs(rvdt), 3);

    d = DataOf(Ask(m, 'k'));
    ASSERT_EQ(d.size(), 10u);
    for (uint8_t b : d) EXPECT_NEAR(b, 0x80, 3);

    d = DataOf(Ask(m, 's'));
    ASSERT_EQ(d.size(), 80u);
    EXPECT_EQ(d, Bytes(80, '0'));

    EXPECT_EQ(DataOf(Ask(m, 'r')), Text(":5"));
    const Reply ram = Ask(m, 'u');
    EXPECT_EQ(ram.frame[3], 't');
    EXPECT_EQ(DataOf(ram), Text("0"));

    EXPECT_EQ(DataOf(Ask(m, 'p')), Text("07?00280" "07?00280"));
    EXPECT_EQ(Ask(m, 'q').frame.size(), 18u);
    EXPECT_EQ(DataOf(Ask(m, 0x60)), Text("1"));
    EXPECT_EQ(DataOf(Ask(m, 'm')), Text("1"));
    EXPECT_EQ(DataOf(Ask(m, 'D')), Text("0"));
    EXPECT_FALSE(m.Execute('Z', {}).has_value());
    EXPECT_FALSE(m.Execute('t', {}).has_value());

    Module one(ModuleOptions(1000));
    const Bytes version = DataOf(Ask(one, 'G'));
    EXPECT_EQ(Bytes(version.begin(), version.begin() + 4), Text("1.07"));
    EXPECT_EQ(DataOf(Ask(one, 'p')), Text("07?00280"));
    EXPECT_EQ(DataOf(Ask(one, 'n')), Bytes{0x46});
    EXPECT_EQ(DataOf(Ask(one, 'l')), Bytes(10, 0x80));
}

TEST(SimModule, DivertingAndRejectingTakeOneNoteIntoTheTray) {
    SimOptions o = ModuleOptions();
    o.notesUpper = 1;
    o.notesLower = 0;
    Module m(o);
    Reply r = Ask(m, 'i');
    EXPECT_EQ(r.frame[3], 'i');
    EXPECT_EQ(DataOf(r), Text("1"));
    EXPECT_EQ(m.State().rejectTray, 1u);
    EXPECT_EQ(DataOf(Ask(m, 'v')), Bytes{0x38});  // upper now empty
    r = Ask(m, 'w');
    EXPECT_EQ(r.frame[3], 'w');
    EXPECT_EQ(DataOf(r), Bytes{0x40});
    EXPECT_EQ(m.State().rejectTray, 1u);

    Module one(ModuleOptions(1000));
    EXPECT_EQ(DataOf(Ask(one, 'j')), Bytes{0x46});
}

TEST(SimModule, CalibrationRecordIsStoredAndTheAverageAlternates) {
    Module m(ModuleOptions());
    // The short form of the one-cassette "Notes Init" frame: 0x15, nine bytes, seven fillers.
    Bytes shortRecord = {0x15, '7', '?', '0', '2', '8', '0', 0x26, 0x3E, '0'};
    shortRecord.insert(shortRecord.end(), 7, '0');
    const Reply r = Ask(m, 0x80, std::string(shortRecord.begin(), shortRecord.end()));
    ASSERT_EQ(r.frame.size(), 24u);
    Bytes stored(shortRecord.begin() + 1, shortRecord.end());
    stored.insert(stored.end(), 2, '0');  // padded to the full 18 bytes
    EXPECT_EQ(m.State().calibration, stored);
    EXPECT_EQ(DataOf(Ask(m, 0x81)), DataOf(r));

    std::vector<uint8_t> named;
    for (int i = 0; i < 3; ++i) {
        const Bytes d = DataOf(Ask(m, 0x82));
        ASSERT_EQ(d.size(), 4u);
        named.push_back(d[0]);
        const unsigned v = (d[1] & 15u) << 8 | (d[2] & 15u) << 4 | (d[3] & 15u);
        EXPECT_NEAR(v, d[0] == '0' ? 0x1F4 : 0x1EA, 2);
    }
    EXPECT_EQ(named, (std::vector<uint8_t>{'0', '1', '0'}));

    SimOptions fixed = ModuleOptions();
    fixed.averageCassette = 1;
    Module lower(fixed);
    EXPECT_EQ(DataOf(Ask(lower, 0x82))[0], '1');
    EXPECT_EQ(DataOf(Ask(lower, 0x82))[0], '1');
    Module one(ModuleOptions(1000));
    EXPECT_EQ(DataOf(Ask(one, 0x82))[0], '0');
    EXPECT_EQ(DataOf(Ask(one, 0x82))[0], '0');
}

TEST(SimModule, EveryAnswerIsAParseableFrameInAnyState) {
    for (int model : {1000, 2000}) {
        for (unsigned notes : {0u, 1u, 3u}) {
            SimOptions o = ModuleOptions(model);
            o.notesUpper = o.notesLower = notes;
            o.rejectRate = 0.5;
            o.nearEnd = 2;
            Module m(o);
            for (int cmd = 0; cmd < 256; ++cmd) {
                const auto c = static_cast<uint8_t>(cmd);
                const std::vector<std::size_t> lens = CommandDataLengths(c);
                if (lens.empty()) continue;
                const std::optional<Reply> r = m.Execute(c, Bytes(lens.back(), c == 0x80 ? 0x03 : '1'));
                ASSERT_TRUE(r.has_value()) << cmd;
                EXPECT_TRUE(WellFormedResponse(r->frame)) << "model " << model << " command " << cmd;
                EXPECT_EQ(r->frame[1], 'P');
                EXPECT_EQ(r->frame[3], c == 'u' ? 't' : c);
            }
        }
    }
}

TEST(SimModule, SameSeedSameAnswers) {
    SimOptions o = ModuleOptions();
    o.rejectRate = 0.3;
    auto script = [](const SimOptions& opt) {
        Module m(opt);
        std::vector<Bytes> out;
        for (const auto& [cmd, data] : std::vector<std::pair<uint8_t, std::string>>{
                 {'E', "20"}, {'b', ""}, {'V', "1010"}, {'g', ""}, {'q', ""}, {0x82, ""}, {'U', "30"}}) {
            const Reply r = *m.Execute(cmd, Text(data));
            out.push_back(r.frame);
            for (const Notice& n : r.notices) out.push_back(n.bytes);
        }
        return out;
    };
    EXPECT_EQ(script(o), script(o));
    SimOptions other = o;
    other.seed = 8;
    EXPECT_NE(script(o), script(other));
}

}  // namespace
}  // namespace zeda::test
