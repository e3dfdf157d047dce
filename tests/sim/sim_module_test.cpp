// The module's answers and bookkeeping, and how command frames are found in the byte stream,
// without a line in between.
#include <gtest/gtest.h>

#include "sim_rig.h"
#include "zeda_module.h"
#include "zeda_protocol.h"

namespace zeda::test {
namespace {

// The data bytes of the answer to one command (the frame itself must be well formed).
Bytes Ask(Module& m, uint8_t cmd, const std::string& data = {}) {
    const std::optional<Reply> r = m.Execute(cmd, Text(data));
    EXPECT_TRUE(r && WellFormedResponse(r->frame)) << "command " << int(cmd);
    return r ? Bytes(r->frame.begin() + 4, r->frame.end() - 2) : Bytes{};
}

SimOptions ModuleOptions(int model = 2000, unsigned upper = 2000, unsigned lower = 2000) {
    SimOptions o;
    o.model = model;
    o.notesUpper = upper;
    o.notesLower = lower;
    o.rejectRate = 0.0;
    o.seed = 7;
    return o;
}

TEST(SimProtocol, FramesEndWhereTheirCommandEndsNotAtTheFirstEtx) {
    using Kind = CommandParser::Kind;
    CommandParser p;
    auto feed = [&p](const Bytes& bytes) {
        std::vector<CommandParser::Event> out;
        for (uint8_t b : bytes)
            if (CommandParser::Event e = p.Feed(b); e.kind != Kind::None) out.push_back(std::move(e));
        return out;
    };
    Bytes longData(19, 0x03);  // an ETX candidate at every position where a frame could end
    Bytes shortData(17, 0x03);
    longData[0] = shortData[0] = 0x15;
    Bytes cut = Command('E', Text("05"));  // cut before its ETX; the next frame's EOT ends it
    cut.resize(6);
    Bytes stream;
    for (const Bytes& part : {Command(0x80, longData), Command(0x80, shortData), cut, Command('Z', Text("ab"))})
        stream.insert(stream.end(), part.begin(), part.end());  // 'Z' is unknown: the first ETX ends it
    const auto events = feed(stream);
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
        const auto e = feed(b);
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(e[0].kind, Kind::BadFrame);
        EXPECT_LE(e[0].raw.size(), kMaxCommandFrame);
    }
    EXPECT_EQ(BuildCommand('F'), (Bytes{0x04, 0x50, 0x02, 0x46, 0x03, 0x13}));
}

TEST(SimModule, DispenseCountsRefusesAndFailsOnTheChosenCycle) {
    Module m(ModuleOptions(2000, 7, 4));
    EXPECT_EQ(Ask(m, 'E', "05"), Text("0505" "1" "0" "00"));
    // Two left: paid out, then 0x38 "BILL End UPPER" ('8') with the empty indicator set.
    EXPECT_EQ(Ask(m, 'E', "10"), Text("1002" "8" "1" "00"));
    // Both cassettes: the lower one runs out after four, 0x40 "BILL End LOWER" ('@'), both empty.
    EXPECT_EQ(Ask(m, 'V', "0012"), Text("00" "00" "12" "04" "@" "1" "1" "00" "00"));
    EXPECT_EQ(m.State().dispenseCycles, 3u);

    Module fresh(ModuleOptions());
    EXPECT_EQ(Ask(fresh, 'E', "61")[4], 0x3B);  // above 60: nothing moves
    EXPECT_EQ(Ask(fresh, 'V', "0070")[8], 0x3B);
    EXPECT_EQ(fresh.State().notesUpper, 2000u);
    EXPECT_EQ(Ask(fresh, 'E', "60")[4], '1');

    Module one(ModuleOptions(1000));
    EXPECT_EQ(Ask(one, 'U', "01"), Text("0100" "\x46" "0" "00"));
    EXPECT_EQ(Ask(one, 'V', "0101")[8], 0x46);
    EXPECT_EQ(one.State().notesUpper, 2000u);

    SimOptions noUpper = ModuleOptions();
    noUpper.upperPresent = false;
    Module bare(noUpper);
    EXPECT_EQ(Ask(bare, 'E', "01")[4], 0x45);

    // A chosen cycle answers the chosen code and moves nothing.
    SimOptions o = ModuleOptions();
    o.faults.errorAt = {{2, 0x3A}};
    Module chosen(o);
    EXPECT_EQ(Ask(chosen, 'E', "01")[4], '1');
    EXPECT_EQ(Ask(chosen, 'F').size(), 4u);  // not a dispense cycle
    const Reply r = *chosen.Execute('V', Text("0101"));
    EXPECT_EQ(r.frame[12], 0x3A);
    EXPECT_TRUE(r.injectedError);
    EXPECT_EQ(Ask(chosen, 'E', "01")[4], '1');
    EXPECT_EQ(chosen.State().notesUpper, 1998u);
}

}  // namespace
}  // namespace zeda::test
