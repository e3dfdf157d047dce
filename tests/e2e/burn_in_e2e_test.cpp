// A burn-in against the simulator with faults injected: the trace and the results file read back
// against the simulator's own count.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <fstream>
#include <vector>

#include "e2e_rig.h"
#include "program_rig.h"

using namespace kalvor;
using namespace kalvor::e2e;

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(BurnIn, TraceAndResultsMatchWhatTheModuleSaw) {
    zeda::SimOptions module = FastModule();
    module.faults.corruptBcc = 0.05;
    module.faults.noise = 0.05;
    module.faults.nakAck = 0.05;
    module.faults.errorAt.push_back({9, 0x41});  // "MOTOR STOP" at the 9th dispense
    module.rejectRate = 0.05;
    module.seed = 11;

    char dir[] = "/tmp/kalvor-burn-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string trace = std::string(dir) + "/trace.txt", results = std::string(dir) + "/results.csv";
    std::ofstream(results) << std::string(9000, 'x') << '\n';  // an older, longer file: written over, not into
    std::string script = "tab 1; click 1135; check 1026; set 1028 2; set 1030 6; ";
    for (int run = 0; run < 3; ++run) script += "click 1020; wait run 60000; ";
    AppOptions options = With(&AppOptions::trace);
    options.traceFile = trace;
    options.results = results;
    const Outcome r = RunConsole(module, script + "print message; quit", options);
    const zeda::SimCounters& c = r.counters;

    EXPECT_EQ(r.status, kExitModuleError) << r.err << r.out;
    const auto rows = ReadCsv(results);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "run");
    EXPECT_EQ(rows[0][13], "ended");
    auto column = [&](const char* name) {
        const auto at = std::find(rows[0].begin(), rows[0].end(), name);
        EXPECT_NE(at, rows[0].end()) << name;
        return static_cast<size_t>(at - rows[0].begin());
    };
    const size_t wall = column("wall_time"), toAnswer = column("write_to_answer_ms"), resends = column("resends"),
                 naksSent = column("naks_sent"), naksReceived = column("naks_received"),
                 upperDispensed = column("upper_dispensed"), lowerDispensed = column("lower_dispensed");
    unsigned answered = 0, unanswered = 0, errors = 0, dispensed = 0, rejected = 0, resent = 0, sentNaks = 0, gotNaks = 0,
             notices = 0;
    const std::regex iso(R"(20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d\d\dZ)");
    for (size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), rows[0].size()) << "row " << i;
        EXPECT_EQ(rows[i][2], "E");
        EXPECT_EQ(rows[i][3], "02");
        const std::vector<std::string>& row = rows[i];
        const std::string& ended = row[13];
        EXPECT_TRUE(std::regex_match(row[wall], iso)) << row[wall];
        resent += std::stoul(row[resends]);
        sentNaks += std::stoul(row[naksSent]);
        gotNaks += std::stoul(row[naksReceived]);
        for (const char* n : {"notices_double", "notices_length", "notices_nearing", "notices_other"})
            notices += std::stoul(row[column(n)]);
        if (ended == "answered" || ended == "module error") {
            ++answered;
            dispensed += std::stoul(row[5]);
            rejected += std::stoul(row[6]);
            EXPECT_EQ(row[upperDispensed], row[5]);
            EXPECT_EQ(row[lowerDispensed], "");
            // Durations in ms with three decimals; write to answer is the sum of its two parts.
            EXPECT_NEAR(std::stod(row[toAnswer]), std::stod(row[11]) + std::stod(row[12]), 0.0015) << i;
            EXPECT_EQ(row[toAnswer].size() - row[toAnswer].find('.'), 4u) << row[toAnswer];
        }
        // A cycle the module took but whose answer the console never accepted (a frame time-out
        // on a loaded machine) is the module's dispense all the same.
        if (ended == "bad frames" || ended == "no answer") ++unanswered;
        if (ended == "module error") {
            ++errors;
            EXPECT_EQ(rows[i][7], "41");
            EXPECT_EQ(rows[i][8], "MOTOR STOP \n CODE[41]");
        }
    }
    // Every dispense answer the console acknowledged is a row, with the module's own counts.
    EXPECT_EQ(answered + unanswered, c.dispenseCycles);
    EXPECT_EQ(errors, 1u);
    EXPECT_EQ(dispensed, c.notesDispensed);
    EXPECT_EQ(rejected, c.notesRejected);
    // What the link repeated, counted per cycle, adds up to what the module saw.
    EXPECT_EQ(rows.size() - 1 + resent, c.framesReceived);
    EXPECT_EQ(sentNaks, c.naksReceived);
    EXPECT_EQ(gotNaks, c.naksSent);
    EXPECT_EQ(notices, c.noticesSent);

    // The trace: every command frame the module received was written; every line is timed.
    const auto lines = ReadLines(trace);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("# kalvor-tp 1.02 protocol trace, started 20", 0), 0u) << lines[0];
    unsigned commandLines = 0, goodAnswers = 0, naks = 0, portLines = 0;
    for (const std::string& l : lines) {
        if (l[0] == '#') {
            if (l.find(" opened, 9600 baud, parity None, 8 data bits, 1 stop bit, model ZEDA2000") != std::string::npos)
                ++portLines;
            continue;
        }
        EXPECT_EQ(l.find(" +"), l.find(' ')) << l;
        if (l.find(" TX ") != std::string::npos && l.find("command E DISPENSE UPPER, BCC good") != std::string::npos)
            ++commandLines;
        for (size_t p = l.find("answer E DISPENSE UPPER 14 bytes, BCC good"); p != std::string::npos;
             p = l.find("answer E DISPENSE UPPER 14 bytes, BCC good", p + 1))
            ++goodAnswers;
        if (l.find(" TX 15 | NAK") != std::string::npos) ++naks;
    }
    EXPECT_EQ(commandLines, c.framesReceived);
    EXPECT_EQ(goodAnswers, c.responsesAcknowledged);
    EXPECT_EQ(naks, c.naksReceived);
    EXPECT_EQ(portLines, 1u);

    // One summary line per run in the Message pane.
    EXPECT_EQ(CountLines(r.out, "1003:"), 1);
    size_t summaries = 0;
    for (size_t p = r.out.find("RUN "); p != std::string::npos; p = r.out.find("RUN ", p + 1)) ++summaries;
    EXPECT_EQ(summaries, 3u) << r.out;
    EXPECT_NE(r.out.find("answer ms "), std::string::npos);
    std::filesystem::remove_all(dir);
}
