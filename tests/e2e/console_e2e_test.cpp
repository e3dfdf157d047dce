#include <gtest/gtest.h>

#include <regex>

#include "e2e_rig.h"

using namespace kalvor;
using namespace kalvor::e2e;

namespace {
bool Has(const std::string& out, const std::string& line) { return out.find(line + "\n") != std::string::npos; }
bool Matches(const std::string& out, const char* re) { return std::regex_search(out, std::regex(re)); }
}  // namespace

TEST(EndToEnd, StatusAndEveryDiagnosticButton) {
    std::string script = "print message; click 1050; wait idle 5000; print status; tab 3; click 1060; wait idle 5000; "
                         "print message; print status; ";
    for (int id : {1054, 1055, 1056, 1058, 1066, 1067, 1069, 1059, 1057})
        script += "click " + std::to_string(id) + "; wait idle 5000; ";
    Outcome r = RunConsole(FastModule(), script + "check 1126; click 1123; wait idle 5000; print message; quit",
                           With(&AppOptions::trace));
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_TRUE(Has(r.out, "1003: Com Port 1 is opened")) << r.out;
    EXPECT_TRUE(Matches(r.out, "1004: STATUS ERR : [0-9A-F]{2} SEN0 : [0-9A-F]{2} SEN1 : [0-9A-F]{2}\\\\r\\\\n\n")) << r.out;
    EXPECT_TRUE(Matches(r.out, "1003: ROM Ver = .{4}   Check Sum = [0-9A-F]{4}\n")) << r.out;
    EXPECT_TRUE(Has(r.out, "1004: ZEDA1000")) << r.out;  // the TP page's LOWER radio was clear
    // "DIVERTING" on an empty reject tray still warns to empty it.
    EXPECT_TRUE(Has(r.out, "BOX WORNING: Remove bills in Reject Tray")) << r.out;
    // The lower "Reject Bill" answer carries 'w', which the console shows as "Default".
    EXPECT_TRUE(Has(r.out, "1003: Default")) << r.out;
    EXPECT_EQ(CountLines(r.out, "BOX Error"), 0) << r.out;
    // Twelve commands, each acknowledged and answered once; the console acknowledged them all.
    EXPECT_EQ(r.counters.goodFrames, 12u);
    EXPECT_EQ(r.counters.responsesAcknowledged, 12u);
    EXPECT_GE(CountLines(r.out, "["), 12 * 4);  // per command: TX frame, RX ACK, RX answer, TX ACK
}

TEST(EndToEnd, DispenseRunsWithRepeatsCancelAndTotals) {
    Outcome r = RunConsole(FastModule(),
                           "tab 1; click 1135; check 1026; set 1028 5; set 1030 3; click 1020; wait idle 20000; "
                           "print 1031; print 1032; print 1137; "
                           "uncheck 1026; check 1027; set 1029 4; set 1030 2; click 1020; wait idle 20000; "
                           "print 1031; print 1032; "
                           "check 1026; set 1028 2; set 1029 3; set 1030 5; click 1020; click 1022; wait idle 20000; "
                           "print 1031; print 1032; quit");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    // 'E' five notes, three times.
    EXPECT_NE(r.out.find("1031: 15\n1032: 3\n1137: 0\n"), std::string::npos) << r.out;
    // 'U' four notes, twice.
    EXPECT_NE(r.out.find("1031: 8\n1032: 2\n"), std::string::npos) << r.out;
    // 'V' 2 + 3, cancelled while the first cycle was outstanding: that cycle still counts.
    EXPECT_NE(r.out.find("1031: 5\n1032: 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.counters.dispenseCycles, 6u);
    EXPECT_EQ(r.counters.notesDispensed, 15u + 8u + 5u);
    EXPECT_EQ(CountLines(r.out, "BOX"), 0) << r.out;
}

TEST(EndToEnd, ModuleErrorInTheMiddleOfARunStopsIt) {
    zeda::SimOptions module = FastModule();
    module.faults.errorAt.push_back({2, 0x3A});
    Outcome r = RunConsole(module, "tab 1; check 1026; set 1028 3; set 1030 5; click 1020; wait idle 20000; "
                                   "print 1032; wait 800; print 1032; print message; quit");
    ASSERT_EQ(r.status, 3) << r.err << r.out;  // a module error code was shown
    EXPECT_TRUE(Has(r.out, "BOX ERROR CODE: Misnatch CRI to EJECT \\n CODE[3A]")) << r.out;
    EXPECT_EQ(CountLines(r.out, "1032: 2"), 2) << r.out;  // no third cycle, even later
    EXPECT_TRUE(Matches(r.out, "1003: Com Port 1 is opened\\\\r\\\\n( [0-9a-f]{2}){14}\n")) << r.out;
    EXPECT_EQ(r.counters.dispenseCycles, 2u);
}

TEST(EndToEnd, LineFaultsAreRecoveredOrGivenUp) {
    // A corrupted BCC is answered with NAK and the module's resend is taken.
    zeda::SimOptions bad = FastModule();
    bad.faults.corruptBcc = 0.5;
    bad.seed = 3;
    const std::string status = "click 1050; wait idle 8000; print status; quit";
    Outcome r = RunConsole(bad, status, With(&AppOptions::trace));
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(CountLines(r.out, "1004: STATUS ERR"), 1) << r.out;
    EXPECT_EQ(r.counters.naksReceived, r.counters.Fault(zeda::FaultKind::CorruptBcc)) << r.out;

    // A cut-off answer is shown raw after 150 ms, and the button works again afterwards.
    zeda::SimOptions cut = FastModule();
    cut.faults.cutResponse = 1.0;
    r = RunConsole(cut, "click 1050; wait idle 5000; print message; click 1050; wait idle 5000; quit");
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_TRUE(Matches(r.out, "1003: Com Port 1 is opened( [0-9a-f]{2})+\\\\r\\\\n\n")) << r.out;
    EXPECT_EQ(r.counters.goodFrames, 2u);

    // Never an ACK: written at 0, 2, 4 and 6 s, then the link gives up.
    zeda::SimOptions silent = FastModule();
    silent.faults.dropAck = 1.0;
    r = RunConsole(silent, "click 1050; wait idle 12000; quit", With(&AppOptions::trace));
    ASSERT_EQ(r.status, 4) << r.err << r.out;
    EXPECT_TRUE(Has(r.out, "BOX Error: TimeOut : Receive Ack")) << r.out;
    EXPECT_EQ(CountLines(r.out, "["), 4) << r.out;
    EXPECT_EQ(r.counters.framesReceived, 4u);
}

TEST(EndToEnd, CalibrationWriteAndReadBack) {
    Outcome r = RunConsole(FastModule(),
                           "tab 1; click 1135; tab 4; set 1082 500; set 1095 38; set 1096 62; set 1110 25; set 1111 10; "
                           "set 1097 400; set 1115 40; set 1116 64; click 1098; wait idle 5000; "
                           "print 1085; print 1086; print 1095; print 1096; print 1113; print 1114; print 1115; "
                           "print 1116; tab 5; tab 4; "
                           "print 1085; click 1099; wait idle 5000; print 1085; print 1086; print 1113; print 1114; quit",
                           With(&AppOptions::calibration));
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    // The answer to the write shows the record the module now holds; the second block's limits
    // come from its own average 0x400 and margins 25/10.
    EXPECT_NE(r.out.find("1085: 680\n1086: 459\n1095: 38\n1096: 62\n1113: 500\n1114: 399\n1115: 40\n1116: 64\n"),
              std::string::npos)
        << r.out;
    // Re-entering the page empties it; "REQ SEEPROM" reads the same record back.
    EXPECT_NE(r.out.find("1085: \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1085: 680\n1086: 459\n1113: 500\n1114: 399\n"), std::string::npos) << r.out;
    EXPECT_EQ(CountLines(r.out, "BOX"), 0) << r.out;
}
