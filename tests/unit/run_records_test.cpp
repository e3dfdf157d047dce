// What listens to the console's run events: the results records (CSV and JSON Lines), the exit
// accounting with its line, the progress line; and a port lost in the middle of a run.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "burnin/burn_in_recorder.h"
#include "burnin/progress_line.h"
#include "burnin/session_tally.h"
#include "support/test_host.h"

using namespace kalvor;
using namespace kalvor::test;

namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

Bytes Answer21(const char* up, const char* low, uint8_t result, const char* upRej) {
    auto b = [](char c) { return static_cast<uint8_t>(c); };
    return ResponseFrame('V', {'0', '0', b(up[0]), b(up[1]), '0', '0', b(low[0]), b(low[1]), result, '0', '0',
                               b(upRej[0]), b(upRej[1]), '0', '0'});
}

struct Recorded {
    std::string dir;
    BurnInRecorder csv, json;
    SessionTally tally;
    std::ostringstream progressText;
    ProgressLine progress{progressText, false};
    std::vector<std::string> failures;

    explicit Recorded(TestConsole& c) {
        char d[] = "/tmp/kalvor-records-XXXXXX";
        dir = mkdtemp(d);
        std::string why;
        for (BurnInRecorder* r : {&csv, &json}) {
            r->SetFailureHandler([this](const std::string& m) { failures.push_back(m); });
            EXPECT_TRUE(r->Open(dir + (r == &csv ? "/r.csv" : "/r.jsonl"), why)) << why;
            c.dlg->Events().Add(r);
        }
        csv.SetSummarySink([&c](const std::string& line) { c.dlg->AppendMessage(line + "\r\n"); });
        c.dlg->Events().Add(&tally);
        c.dlg->Events().Add(&progress);
    }
    ~Recorded() { system(("rm -rf " + dir).c_str()); }
};

}  // namespace

TEST(RunRecords, EveryCycleIsRecordedWithWhatTheLinkRepeatedAndWhatTheModuleSaid) {
    TestConsole c;
    Recorded rec(c);
    // Who is who, as the host fills it in, on the CSV; the JSON Lines file has none.
    rec.csv.SetIdentity({"m1", "/dev/serial/by-id/x", "ttyUSB0", "0403:6001 serial A1", "st"});
    rec.csv.SetModelSource([&c] { return c.dlg->Model(); });
    rec.csv.OnBurnPlanned(500);
    c.Do("click 1135; tab 1; click 1026; click 1027; set 1028 5; set 1029 3; set 1030 2; click 1020");
    // Cycle 1: the module NAKs the command (it is written again), ACKs at 150 ms, sends a reject
    // notice, an answer with a bad BCC (NAKed) and the good answer at 600 ms.
    c.host.Advance(100);
    c.host.Deliver({NAK});
    c.host.Advance(50);
    c.host.Deliver({ACK});
    c.host.Advance(200);
    c.host.Deliver({SOH, 0x9C, '<'});
    c.host.Advance(150);
    Bytes bad = Answer21("05", "03", '1', "01");
    bad.back() ^= 0x55;
    c.host.Deliver(bad);
    c.host.Advance(100);
    c.host.Deliver(Answer21("05", "03", '1', "01"));
    // Cycle 2, 500 ms later: a module error.
    c.host.Advance(500);
    c.host.Advance(50);
    c.host.Deliver({ACK});
    c.host.Advance(250);
    c.host.Deliver(Answer21("02", "00", 'A', "00"));

    const auto csv = Lines(rec.dir + "/r.csv");
    ASSERT_EQ(csv.size(), 4u);  // the error text keeps its line break, quoted
    EXPECT_EQ(csv[0],
              "run,cycle,command,upper_request,lower_request,dispensed,rejected,result_code,result_text,upper_empty,"
              "lower_empty,write_to_ack_ms,ack_to_answer_ms,ended,wall_time,write_to_answer_ms,resends,naks_sent,"
              "naks_received,upper_dispensed,lower_dispensed,upper_rejected,lower_rejected,notices_double,"
              "notices_length,notices_nearing,notices_other,module,port,device,adapter,model,station,planned");
    EXPECT_EQ(csv[1], "1,1,V,05,03,8,1,31,OK,0,0,150.000,450.000,answered,2026-12-07T00:00:00.000Z,600.000,1,1,1,5,3,1,0,"
                      "1,0,0,0,m1,/dev/serial/by-id/x,ttyUSB0,0403:6001 serial A1,ZEDA2000,st,500");
    EXPECT_EQ(csv[2] + "\n" + csv[3], "1,2,V,05,03,2,0,41,\"MOTOR STOP \n CODE[41]\",0,0,50.000,250.000,module error,"
                      "2026-12-07T00:00:01.100Z,300.000,0,0,0,2,0,0,0,0,0,0,0,m1,/dev/serial/by-id/x,ttyUSB0,0403:6001 serial A1,"
                      "ZEDA2000,st,500");
    const auto json = Lines(rec.dir + "/r.jsonl");
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[1], R"({"run":1,"cycle":2,"command":"V","upper_request":"05","lower_request":"03","dispensed":2,)"
                       R"("rejected":0,"result_code":"41","result_text":"MOTOR STOP \u000a CODE[41]","upper_empty":0,)"
                       R"("lower_empty":0,"write_to_ack_ms":50.000,"ack_to_answer_ms":250.000,"ended":"module error",)"
                       R"("wall_time":"2026-12-07T00:00:01.100Z","write_to_answer_ms":300.000,"resends":0,"naks_sent":0,)"
                       R"("naks_received":0,"upper_dispensed":2,"lower_dispensed":0,"upper_rejected":0,)"
                       R"("lower_rejected":0,"notices_double":0,"notices_length":0,"notices_nearing":0,"notices_other":0,)"
                       R"("module":null,"port":null,"device":null,"adapter":null,"model":null,"station":null,"planned":null})");
    // The row comes before the box about it; the run's summary after.
    EXPECT_EQ(c.Boxes(), Strings{"ERROR CODE|MOTOR STOP \n CODE[41]"});
    EXPECT_NE(c.Message().find("RUN 1: cycles 2, dispensed 10, rejected 1, errors 1, answer ms 300.0/450.0/600.0 "
                               "(min/median/max)\r\n"),
              std::string::npos)
        << c.Message();
    EXPECT_EQ(rec.tally.Line(), "kalvor-tp: 2 cycles, 1 module error (41), 0 link give-ups (exit 3)");
    EXPECT_EQ(rec.progressText.str(),
              "cycle 1/2, dispensed 8, rejected 1, errors 0, answer 600.0 ms (median 600.0 ms), elapsed 0:00, left 0:01\n"
              "cycle 2/2, dispensed 10, rejected 1, errors 1, answer 300.0 ms (median 450.0 ms), elapsed 0:01\n");
    EXPECT_TRUE(rec.failures.empty());
}

TEST(RunRecords, APortLostMidRunEndsItAtOnceWithItsRecord) {
    TestConsole c;
    Recorded rec(c);
    c.Do("tab 1; click 1026; set 1028 2; set 1030 5; click 1020; ack");
    c.host.Advance(100);
    c.Receive('E', {'0', '0', '0', '2', '1', '0', '0', '0'});
    c.host.Advance(600);  // the second cycle is written and waits for its ACK
    ASSERT_TRUE(c.dlg->RunActive());
    c.dlg->OnCommLost();
    EXPECT_FALSE(c.dlg->RunActive());
    EXPECT_TRUE(c.dlg->IsIdle());
    EXPECT_TRUE(c.host.timers.empty());
    const auto csv = Lines(rec.dir + "/r.csv");
    ASSERT_EQ(csv.size(), 3u);
    EXPECT_NE(csv[2].find(",port lost,"), std::string::npos) << csv[2];
    EXPECT_NE(c.Message().find("RUN 1: cycles 2,"), std::string::npos) << c.Message();
    EXPECT_EQ(c.Boxes(), Strings{"comm Error!|Communication port lost|!"});
    // Nothing more is written, and "DISPENSE" works again once a port is open.
    const size_t frames = c.Frames().size();
    c.host.Advance(130000);
    EXPECT_EQ(c.Frames().size(), frames);
    EXPECT_EQ(rec.tally.ExitStatus(), kExitBenchFailed);
    EXPECT_EQ(rec.tally.Line(), "kalvor-tp: 2 cycles, 0 module errors, 0 link give-ups, port lost once (exit 6)");
}

TEST(RunRecords, ExitAccountingCountsEachFailureOnceAndSixWins) {
    const RunTime t;
    struct Case {
        const char* events;  // a letter an event
        int status;
        const char* line;
    };
    // a answered, m module error answer + its box, c cut-off cycle, e "Error Receive Frame" box,
    // k "Can't Receive Ack" box, r refused, o open failed, p port opened, l port lost, f file, s script, i SIGTERM
    const Case cases[] = {
        {"pa", 0, "1 cycle, 0 module errors, 0 link give-ups (exit 0)"},
        {"pmam", 3, "3 cycles, 2 module errors (41, 41), 0 link give-ups (exit 3)"},
        {"pce", 4, "1 cycle, 0 module errors, 1 link give-up (exit 4)"},
        {"pcek", 4, "1 cycle, 0 module errors, 2 link give-ups (exit 4)"},
        {"pmk", 5, "1 cycle, 1 module error (41), 1 link give-up (exit 5)"},
        {"o", 6, "0 cycles, 0 module errors, 0 link give-ups, port not opened (exit 6)"},
        {"pmo", 6, "1 cycle, 1 module error (41), 0 link give-ups, port could not be opened once (exit 6)"},
        {"pll", 6, "0 cycles, 0 module errors, 0 link give-ups, port lost twice (exit 6)"},
        {"prk", 6, "0 cycles, 0 module errors, 1 link give-up, 1 request refused (exit 6)"},
        {"paf", 6, "1 cycle, 0 module errors, 0 link give-ups, results file not written (exit 6)"},
        {"pfs", 6, "0 cycles, 0 module errors, 0 link give-ups, results file not written, script error (exit 6)"},
        {"pmi", 143, "1 cycle, 1 module error (41), 0 link give-ups, interrupted by SIGTERM (exit 143)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.events);
        SessionTally tally;
        CycleAnswer error;
        error.moduleError = true;
        error.resultCode = 0x41;
        for (const char* e = c.events; *e; ++e) {
            switch (*e) {
            case 'a': tally.OnCycleAnswered(t, {}); break;
            case 'm':
                tally.OnCycleAnswered(t, error);
                tally.OnBox(t, "MOTOR STOP   CODE[41]", "ERROR CODE", BoxKind::ModuleError);
                break;
            case 'c': tally.OnCycleFailed(t, CycleEnd::BadFrames); break;
            case 'e': tally.OnBox(t, "Error Receive Frame", "Error", BoxKind::LinkGiveUp); break;
            case 'k': tally.OnBox(t, "Can't Receive Ack", "Error", BoxKind::LinkGiveUp); break;
            case 'r': tally.OnBox(t, "Repeat Count Error", "Error", BoxKind::Refused); break;
            case 'o': tally.OnPortOpenFailed(t, 1, "/dev/x", "gone"); break;
            case 'p': tally.OnPortOpened(t, 1, "/dev/x"); break;
            case 'l': tally.OnPortLost(t, 1, "/dev/x"); break;
            case 'f': tally.FileFailed("results file"); break;
            case 's': tally.ScriptFailed(); break;
            case 'i': tally.Interrupted(SIGTERM); break;
            }
        }
        EXPECT_EQ(tally.ExitStatus(), c.status);
        EXPECT_EQ(tally.Line(), std::string("kalvor-tp: ") + c.line);
    }
    // Box kinds from their texts.
    EXPECT_EQ(BoxKindOf("TimeOut : receive response", "Error"), BoxKind::LinkGiveUp);
    EXPECT_EQ(BoxKindOf("Can't open comport.", "Error"), BoxKind::OpenFailed);
    EXPECT_EQ(BoxKindOf("Limit Value Error", "Error"), BoxKind::Refused);
}
