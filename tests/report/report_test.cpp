// The burn-in report: its figures from known results files, what it does with malformed and
// hostile input, the HTML it writes (read back by a parser), and the program's exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "report/html_report.h"
#include "report/html_text.h"
#include "report/module_groups.h"
#include "report/report_stats.h"
#include "report/results_file.h"

namespace kalvor::report {
namespace {

const char* const kHeader =
    "run,cycle,command,upper_request,lower_request,dispensed,rejected,result_code,result_text,upper_empty,"
    "lower_empty,write_to_ack_ms,ack_to_answer_ms,ended,wall_time,write_to_answer_ms,resends,naks_sent,"
    "naks_received,upper_dispensed,lower_dispensed,upper_rejected,lower_rejected,notices_double,"
    "notices_length,notices_nearing,notices_other\n";

// A row with the given figures (the other columns as the recorder writes them).
std::string Row(int run, int cycle, const std::string& dispensed, const std::string& rejected, const std::string& code,
                const std::string& text, const std::string& ended, int second, const std::string& answerMs, int resends = 0) {
    char wall[32];
    std::snprintf(wall, sizeof wall, "2026-12-07T18:%02d:%02d.250Z", second / 60, second % 60);
    return std::to_string(run) + "," + std::to_string(cycle) + ",V,02,03," + dispensed + "," + rejected + "," + code + "," +
           text + ",0,0,10.000,," + ended + "," + wall + "," + answerMs + "," + std::to_string(resends) + ",0,0,,,,,0,0,0,0\n";
}

// Run 1: 20 answered cycles, answer times 10, 20 ... 200 ms, 5 notes each, 1 reject in every
// fourth; run 2: an answered cycle, a module error 0x38 with a quoted text, then the link failures
// "no answer", "bad frames" and "port lost".
std::string KnownCsv() {
    std::string csv = kHeader;
    for (int c = 1; c <= 20; ++c)
        csv += Row(1, c, "5", c % 4 == 0 ? "1" : "0", "31", "OK", "answered", c, std::to_string(c * 10) + ".000", c == 7);
    csv += Row(2, 1, "4", "0", "31", "OK", "answered", 30, "300.500");
    csv += Row(2, 2, "2", "0", "38", "\"Jam, exit\"", "module error", 31, "250.000");
    csv += Row(2, 3, "", "", "", "", "no answer", 33, "");
    csv += Row(2, 4, "", "", "", "", "bad frames", 34, "");
    csv += Row(2, 5, "", "", "", "", "port lost", 35, "");
    return csv;
}

ModuleResults Read(const std::string& text, bool jsonLines = false, std::string* error = nullptr) {
    std::istringstream in(text);
    ModuleResults m;
    const std::string e = ReadResults(in, "m.csv", jsonLines, m);
    if (error) *error = e;
    else EXPECT_EQ(e, "");
    return m;
}

TEST(ReportFigures, KnownFileGivesItsCountsPercentilesAndVerdicts) {
    const ModuleResults m = Read(KnownCsv());
    Limits limits;  // the defaults: 2 %, 15000 ms, 0 errors, 0 link failures
    const ModuleFigures f = ComputeModule(m, limits);
    ASSERT_EQ(f.runs.size(), 2u);
    struct Want { const Figures* f; uint32_t cycles; uint64_t dispensed, rejected; double rate, min, median, p95, max; uint32_t errors, link; bool pass; };
    const Want wants[] = {
        // 25 cycles: 106 dispensed, 5 rejected: 5 / 111 = 4.50 %. 22 times sorted: 10..200, 250, 300.5;
        // median (110 + 120) / 2; p95 rank ceil(20.9) = 21: 250.
        {&f.total, 25, 106, 5, 100.0 * 5 / 111, 10, 115, 250, 300.5, 1, 3, false},
        // Run 1: 100 dispensed, 5 rejected: 4.76 %; p95 rank ceil(19) = 19: 190.
        {&f.runs[0].figures, 20, 100, 5, 100.0 * 5 / 105, 10, 105, 190, 200, 0, 0, false},
        {&f.runs[1].figures, 5, 6, 0, 0, 250, 275.25, 300.5, 300.5, 1, 3, false},
    };
    for (const Want& w : wants) {
        SCOPED_TRACE(w.cycles);
        EXPECT_EQ(w.f->cycles, w.cycles);
        EXPECT_EQ(w.f->dispensed, w.dispensed);
        EXPECT_EQ(w.f->rejected, w.rejected);
        EXPECT_NEAR(w.f->rejectRatePct, w.rate, 1e-9);
        EXPECT_DOUBLE_EQ(w.f->minMs, w.min);
        EXPECT_DOUBLE_EQ(w.f->medianMs, w.median);
        EXPECT_DOUBLE_EQ(w.f->p95Ms, w.p95);
        EXPECT_DOUBLE_EQ(w.f->maxMs, w.max);
        EXPECT_EQ(w.f->moduleErrors, w.errors);
        EXPECT_EQ(w.f->linkFailures, w.link);
        EXPECT_EQ(w.f->Pass(), w.pass);
    }
    EXPECT_EQ(f.total.errorsByCode.at(0x38), 1u);
    EXPECT_EQ(m.errorTexts.at(0x38), "Jam, exit");
    EXPECT_EQ(f.total.resends, 1u);
    for (CycleEnd how : {CycleEnd::NoAnswer, CycleEnd::BadFrames, CycleEnd::PortLost})
        EXPECT_EQ(f.total.endings[static_cast<size_t>(how)], 1u) << CycleEndName(how);
    int64_t first = 0;
    ASSERT_TRUE(ParseWallTime("2026-12-07T18:00:01.250Z", first));
    EXPECT_EQ(f.total.firstWallMs, first);
    EXPECT_EQ(f.total.lastWallMs - f.total.firstWallMs, 34000);

    // Each limit by itself, loosened until the whole file passes.
    limits.maxRejectRatePct = 4.6;
    limits.maxErrors = 1;
    limits.maxLinkFailures = 3;
    EXPECT_TRUE(ComputeModule(m, limits).total.Pass());
    const struct { const char* name; void (*tighten)(Limits&); const char* why; } tight[] = {
        {"reject rate", [](Limits& l) { l.maxRejectRatePct = 4.5; }, "reject rate 4.50 % above 4.50 %"},
        {"answer", [](Limits& l) { l.maxAnswerMs = 300; }, "answer time 300.5 ms above 300.0 ms"},
        {"errors", [](Limits& l) { l.maxErrors = 0; }, "1 module error, more than 0"},
        {"link", [](Limits& l) { l.maxLinkFailures = 2; }, "3 link failures, more than 2"},
        {"cycles", [](Limits& l) { l.minCycles = 26; }, "25 cycles, fewer than 26"},
    };
    for (const auto& t : tight) {
        Limits l = limits;
        t.tighten(l);
        const Figures total = ComputeModule(m, l).total;
        ASSERT_EQ(total.outside.size(), 1u) << t.name;
        EXPECT_EQ(total.outside[0], t.why);
    }
}

TEST(ReportFigures, PercentilesByNearestRank) {
    const struct { std::vector<double> v; double p; double want; } cases[] = {
        {{7}, 95, 7}, {{1, 2}, 50, 1}, {{1, 2}, 95, 2}, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 95, 10},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 90, 9}, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(Percentile(c.v, c.p), c.want) << c.v.size() << " values, p" << c.p;
    EXPECT_EQ(Median({1, 2, 3, 10}), 2.5);
    EXPECT_EQ(Median({1, 2, 30}), 2);
}

// The same records as JSON Lines give the same figures.
TEST(ReportFigures, JsonLinesReadLikeCsv) {
    const ModuleResults csv = Read(KnownCsv());
    std::string jsonl;
    std::vector<std::string> fields;
    std::istringstream lines(KnownCsv());
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        ASSERT_EQ(SplitCsvLine(line, fields), "");
        jsonl += "{";
        for (int k = 0; k < static_cast<int>(fields.size()); ++k) {
            const std::string& v = fields[static_cast<size_t>(k)];
            const bool number = !v.empty() && v.find_first_not_of("0123456789.") == std::string::npos && k != 3 && k != 4 && k != 7;
            jsonl += std::string(k ? ", " : "") + "\"" + kColumns[k] + "\": " + (v.empty() ? "null" : number ? v : "\"" + v + "\"");
        }
        jsonl += "}\n";
    }
    const ModuleResults json = Read(jsonl, true);
    const Figures a = ComputeModule(csv, Limits{}).total, b = ComputeModule(json, Limits{}).total;
    EXPECT_EQ(json.cycles.size(), 25u);
    EXPECT_EQ(a.dispensed, b.dispensed);
    EXPECT_EQ(a.rejected, b.rejected);
    EXPECT_EQ(a.p95Ms, b.p95Ms);
    EXPECT_EQ(a.moduleErrors, b.moduleErrors);
    EXPECT_EQ(json.errorTexts.at(0x38), "Jam, exit");
    // JSON escapes are decoded.
    fields.clear();
    std::string one = "{";
    for (int k = 0; k < kColumnCount; ++k) one += std::string(k ? "," : "") + "\"" + kColumns[k] + "\":\"a\\u00e9\\\"\\ud83d\\ude00\"";
    ASSERT_EQ(SplitJsonLine(one + "}", fields), "");
    EXPECT_EQ(fields[8], "a\xC3\xA9\"\xF0\x9F\x98\x80");
}

TEST(ReportInput, MalformedFilesAreRefusedWithFileAndLine) {
    const std::string good = Row(1, 1, "5", "0", "31", "OK", "answered", 1, "812.345");
    const std::string jsonKeyMissing = "{\"cycle\": 1, \"run\": 1}\n";
    const struct { const char* name; std::string text; bool json; const char* want; } cases[] = {
        {"empty", "", false, "m.csv: empty file, no header line"},
        {"no header", good, false, "m.csv:1: no header line"},
        {"wrong header", "run,cycle,cmd\n", false, "m.csv:1: not the header of a results file: no column 'command'"},
        {"short row", std::string(kHeader) + "1,1,V\n", false, "m.csv:2: 3 fields, expected 27"},
        {"long row", std::string(kHeader) + good.substr(0, good.size() - 1) + ",x\n", false, "m.csv:2: more than 27 fields"},
        {"formula in a count", std::string(kHeader) + Row(1, 1, "=1+2", "0", "31", "OK", "answered", 1, "1.0"), false,
         "m.csv:2: dispensed '=1+2' is not a count of notes"},
        {"unknown ending", std::string(kHeader) + Row(1, 1, "5", "0", "31", "OK", "finished", 1, "1.0"), false,
         "m.csv:2: ended 'finished' is not a known ending"},
        {"bad time", std::string(kHeader) + Row(1, 1, "5", "0", "31", "OK", "answered", 1, "1e3"), false,
         "m.csv:2: write_to_answer_ms '1e3' is not a time in milliseconds"},
        {"bad wall time", std::string(kHeader) + Row(1, 1, "5", "0", "31", "OK", "answered", 99 * 60, "1.0"), false,
         "m.csv:2: wall_time '2026-12-07T18:99:00.250Z' is not a UTC time"},
        {"open quote", std::string(kHeader) + Row(1, 1, "5", "0", "31", "\"OK", "answered", 1, "1.0"), false,
         "m.csv:2: a quoted field is not closed"},
        {"NUL byte", std::string(kHeader) + std::string("1,1,V\0", 6) + "\n", false, "m.csv:2: a NUL byte"},
        {"huge line", std::string(kHeader) + good + std::string(200000, 'x') + "\n" + good, false,
         "m.csv:3: a line longer than 8192 bytes"},
        {"truncated", std::string(kHeader) + good + good.substr(0, 40), false, "m.csv:3: 14 fields, expected 27 (the file ends inside this line)"},
        {"runs out of order", std::string(kHeader) + Row(3, 1, "5", "0", "31", "OK", "answered", 1, "1.0") + Row(2, 2, "5", "0", "31", "OK", "answered", 1, "1.0"), false,
         "m.csv:3: run 2 after run 3: runs out of order"},
        {"cycle again", std::string(kHeader) + Row(1, 2, "5", "0", "31", "OK", "answered", 1, "1.0") + Row(1, 2, "5", "0", "31", "OK", "answered", 1, "1.0"), false,
         "m.csv:3: cycle 2 of run 1 after cycle 2: cycles out of order"},
        {"JSON key missing", jsonKeyMissing, true, "m.csv:1: no key 'command'"},
        {"JSON not an object", "[1,2]\n", true, "m.csv:1: not a JSON object"},
        {"CSV read as JSON", std::string(kHeader), true, "m.csv:1: not a JSON object"},
    };
    for (const auto& c : cases) {
        std::string error;
        Read(c.text, c.json, &error);
        EXPECT_EQ(error.substr(0, std::string(c.want).size()), c.want) << c.name << ": " << error;
    }
    // JSON objects that are nearly right.
    std::string obj;
    for (int k = 0; k < kColumnCount; ++k) obj += std::string(k ? "," : "") + "\"" + kColumns[k] + "\":null";
    const struct { std::string line; const char* want; } json[] = {
        {"{" + obj + "}", "run '' is not a run number"},
        {"{\"extra\":1," + obj + "}", "run '' is not a run number"},  // an unknown key is passed over
        {"{" + obj + "} x", "not valid JSON"},
        {"{\"run\":true}", "'run' is neither a number, a text nor null"},
        {"{\"run\":\"a\\ud800\"}", "not valid JSON"},
        {"{\"run\":01}", "not valid JSON"},
    };
    for (const auto& j : json) {
        std::string error;
        Read(j.line + "\n", true, &error);
        EXPECT_NE(error.find(j.want), std::string::npos) << j.line.substr(0, 40) << ": " << error;
    }
}

TEST(ReportInput, TextsAreShownEscaped) {
    const struct { const char* text; const char* shown; } cases[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"\"><img src=x onerror=y>", "&quot;&gt;&lt;img src=x onerror=y&gt;"},
        {"=HYPERLINK(\"http://x\")", "=HYPERLINK(&quot;http://x&quot;)"},
        {"a & b's", "a &amp; b&#39;s"},
        {"bad \xFF\xC0\x80 utf8 \xE2\x82", "bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD utf8 \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"tab\tbell\x07", "tab\xEF\xBF\xBD" "bell\xEF\xBF\xBD"},
        {"MOTOR STOP \n CODE[41]", "MOTOR STOP \n CODE[41]"},  // a module error's line break
        {"c1 \xC2\x85 nel", "c1 \xEF\xBF\xBD\xEF\xBF\xBD nel"},  // a C1 control, though valid UTF-8
        {"\xC3\xA9\xE2\x82\xAC ok", "\xC3\xA9\xE2\x82\xAC ok"},
    };
    for (const auto& c : cases) EXPECT_EQ(Escape(c.text), c.shown) << c.text;
}

// Writes `text` to a file in a fresh folder; returns its path.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/kalvor-report-XXXXXX";
        m_path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string File(const std::string& name, const std::string& text) const {
        std::ofstream(m_path + "/" + name, std::ios::binary) << text;
        return m_path + "/" + name;
    }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a command line; its exit status and its standard error (with standard output).
std::pair<int, std::string> Shell(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return {-1, ""};
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

const std::string kProgram = std::string(KALVOR_BIN_DIR) + "/kalvor-tp";

// The records of `csv` with the who-is-who columns after them, as the recorder writes them now.
std::string Identified(const std::string& csv, const std::string& module, const std::string& station, unsigned planned) {
    std::istringstream in(csv);
    std::string out;
    bool header = true;
    for (std::string line; std::getline(in, line); header = false)
        out += line + (header ? ",module,port,device,adapter,model,station,planned\n"
                              : "," + module + ",/dev/serial/by-id/usb-" + module + ",ttyUSB0,0403:6001 serial " + module +
                                    ",ZEDA2000," + station + "," + (planned ? std::to_string(planned) : "") + "\n");
    return out;
}

// The same records rewritten by another tool: the CSV's columns in reverse order, or JSON Lines
// with sorted keys (as `jq -S` writes them) and an unknown key.
std::string Rewritten(const std::string& csv, bool sortedJson) {
    std::istringstream in(csv);
    std::string line, out;
    std::vector<std::string> names, f;
    std::getline(in, line);
    SplitCsvLine(line, names);
    auto quoted = [](const std::string& v, char q) {
        if (q == ',' && v.find_first_of(",\"") == std::string::npos) return v;
        std::string s = "\"";
        for (char c : v) s += c == '"' ? (q == ',' ? "\"\"" : "\\\"") : std::string(1, c);
        return s + "\"";
    };
    for (size_t k = names.size(); !sortedJson && k-- > 0;) out += names[k] + (k ? "," : "\n");
    while (std::getline(in, line)) {
        SplitCsvLine(line, f);
        std::map<std::string, std::string> object{{"zz_note", "\"another tool's\""}};
        for (size_t k = names.size(); k-- > 0;) {
            const bool number = !f[k].empty() && f[k].find_first_not_of("0123456789.") == std::string::npos &&
                                names[k].find("request") == std::string::npos && names[k] != "result_code";
            if (sortedJson) object[names[k]] = f[k].empty() ? "null" : number ? f[k] : quoted(f[k], '"');
            else out += quoted(f[k], ',') + (k ? "," : "\n");
        }
        if (!sortedJson) continue;
        out += "{";
        for (const auto& [key, value] : object) out += (out.back() == '{' ? "\"" : ", \"") + key + "\": " + value;
        out += "}\n";
    }
    return out;
}

TEST(ReportModules, FilesAndFoldersGroupByModuleWhateverWroteThem) {
    std::string clean = kHeader;  // five answered cycles, no error
    for (int c = 1; c <= 5; ++c) clean += Row(1, c, "5", "0", "31", "OK", "answered", 40 + c, "800.000");
    const std::string a1 = Identified(KnownCsv(), "A", "st1", 0), a2 = Identified(clean, "A", "st2", 0);
    struct Want {
        std::string module;
        uint32_t cycles;
        size_t runs, files;
        std::string stations, early;  // the stations, blank-separated; "" or the first reason outside
    };
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;  // written into the folder
        std::vector<std::string> inputs;                         // "" is the folder itself
        std::vector<Want> want;
    } cases[] = {
        {"two files of one module make one column", {{"a1.csv", a1}, {"a2.csv", a2}}, {"a2.csv", "a1.csv"},
         {{"A", 30, 3, 2, "st1 st2", "reject rate 3.68 % above 2.00 %"}}},
        {"a session appended to a file (--append): its runs numbered on", {{"ap.csv", a1 + a2.substr(a2.find('\n') + 1)}},
         {"ap.csv"}, {{"A", 30, 3, 1, "st1 st2", "reject rate 3.68 % above 2.00 %"}}},
        {"a folder, rewritten files and one from before the columns", {{"a1.jsonl", Rewritten(a1, true)}, {"a2.csv", Rewritten(a2, false)},
          {"old.csv", KnownCsv()}, {"notes.txt", "not read"}}, {""},
         {{"A", 30, 3, 2, "st1 st2", "reject rate 3.68 % above 2.00 %"}, {"/old.csv", 25, 2, 1, "", "reject rate 4.50 % above 2.00 %"}}},
        {"ended early without a module error, and with one", {{"e.csv", Identified(clean, "E", "st1", 500)},
          {"f.csv", Identified(KnownCsv(), "F", "st1", 500)}, {"g.csv", Identified(clean, "G", "st1", 5)}}, {""},
         {{"E", 5, 1, 1, "st1", "ended early: 5 of 500 cycles"}, {"F", 25, 2, 1, "st1", "reject rate 4.50 % above 2.00 %"},
          {"G", 5, 1, 1, "st1", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const auto& [name, text] : c.files) dir.File(name, text);
        std::vector<std::string> inputs, paths;
        for (const std::string& in : c.inputs) inputs.push_back(in.empty() ? dir.Path("") : dir.Path(in));
        ASSERT_EQ(ExpandInputs(inputs, paths), "");
        std::vector<ModuleResults> files(paths.size());
        for (size_t i = 0; i < paths.size(); ++i) ASSERT_EQ(ReadResultsFile(paths[i], files[i]), "");
        const std::vector<ModuleResults> modules = GroupByModule(std::move(files));
        ASSERT_EQ(modules.size(), c.want.size());
        for (size_t i = 0; i < modules.size(); ++i) {
            const Want& w = c.want[i];
            const ModuleResults& m = modules[i];
            const ModuleFigures f = ComputeModule(m, Limits{});
            EXPECT_EQ(m.name.substr(m.name.size() - std::min(m.name.size(), w.module.size())), w.module);
            EXPECT_EQ(f.total.cycles, w.cycles) << m.name;
            EXPECT_EQ(f.runs.size(), w.runs) << m.name;
            EXPECT_EQ(m.files.size(), w.files) << m.name;
            std::string stations;
            for (const std::string& s : m.identity[kIdStation]) stations += (stations.empty() ? "" : " ") + s;
            EXPECT_EQ(stations, w.stations) << m.name;
            EXPECT_EQ(f.total.outside.empty() ? "" : f.total.outside.front(), w.early) << m.name;
            if (w.module == "A") {
                // The earlier file first, its runs numbered on; the same figures whatever wrote them.
                EXPECT_EQ(m.cycles.back().run, 3u);
                EXPECT_EQ(f.total.p95Ms, 800.0);
                EXPECT_EQ(m.errorTexts.at(0x38), "Jam, exit");
                EXPECT_EQ(m.identity[kIdAdapter], std::vector<std::string>{"0403:6001 serial A"});
            }
        }
    }
    // The program on a folder: a column per module, the identity rows, a verdict line each.
    TempDir dir;
    dir.File("e.csv", Identified(clean, "E", "st1", 500));
    dir.File("a.jsonl", Rewritten(a1, true));
    const std::string out = dir.Path("r.html");
    const auto [status, said] = Shell(kProgram + " --report " + out + " " + dir.Path(""));
    EXPECT_EQ(status, 3);
    EXPECT_EQ(said, "A: 25 cycles, outside limits: reject rate 4.50 % above 2.00 %; 1 module error, more than 0; "
                    "3 link failures, more than 0\nE: 5 cycles, outside limits: ended early: 5 of 500 cycles\n");
    std::ifstream in(out);
    const std::string html((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(html.find("<tr><th>Station</th><td class=\"l name\">st1</td><td class=\"l name\">st1</td></tr>"),
              std::string::npos);
}

TEST(ReportProgram, ExitStatusAndVerdictLines) {
    TempDir dir;
    const std::string known = dir.File("known.csv", KnownCsv());
    std::string clean = kHeader;
    for (int c = 1; c <= 5; ++c) clean += Row(1, c, "5", "0", "31", "OK", "answered", c, "800.000");
    const std::string good = dir.File("good.csv", clean);
    const std::string bad = dir.File("bad.csv", std::string(kHeader) + Row(1, 1, "5", "0", "31", "OK", "answered", 1, "x"));
    const std::string out = dir.Path("out.html");
    const struct { std::string args; int status; const char* says; bool written; } cases[] = {
        {good, 0, "good.csv: 5 cycles, within limits", true},
        {good + " " + known, 3, "known.csv: 25 cycles, outside limits: reject rate 4.50 % above 2.00 %; 1 module error, more than 0;", true},
        {"--max-reject-rate 5 --max-errors=1 --max-link-failures 3 " + known, 0, "known.csv: 25 cycles, within limits", true},
        {"--max-answer-ms 300 --max-reject-rate 5 --max-errors=1 --max-link-failures 3 " + known, 3, "answer time 300.5 ms above", true},
        {good + " " + bad, 2, "bad.csv:2: write_to_answer_ms 'x' is not a time in milliseconds", false},
        {dir.Path("missing.csv"), 2, "missing.csv: cannot read it", false},
        {"--max-reject-rate 101 " + good, 2, "--max-reject-rate takes a percentage from 0 to 100, not '101'", false},
        {"--max-errors -1 " + good, 2, "--max-errors takes a count, not '-1'", false},
        {"--headless " + good, 2, "unknown option '--headless' with --report", false},
        {"", 2, "--report needs at least one results file", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(out);
        const auto [status, said] = Shell(kProgram + " --report " + out + " " + c.args);
        EXPECT_EQ(status, c.status) << c.args << "\n" << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.args << "\n" << said;
        EXPECT_EQ(std::filesystem::exists(out), c.written) << c.args;
    }
    // The report never overwrites its own input.
    const auto [status, said] = Shell(kProgram + " --report " + good + " " + good);
    EXPECT_EQ(status, 2);
    EXPECT_NE(said.find("must be a file ending in .html"), std::string::npos) << said;
    EXPECT_EQ(Read(std::string(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(good)), {})).cycles.size(), 5u);
}

// The page is read back by Python's XML parser (the whole document, so every SVG in it is valid
// XML too) and by its HTML parser, and nothing in it reaches outside the file.
TEST(ReportHtml, WellFormedSelfContainedAndEscaped) {
    TempDir dir;
    std::string hostile = kHeader;
    hostile += Row(1, 1, "5", "0", "38", "\"<script>alert('x')</script>, =cmd|' /C calc'!A0\"", "module error", 1, "900.000");
    hostile += Row(1, 2, "5", "1", "31", "OK", "answered", 3, "950.000", 2);
    hostile += Row(1, 3, "", "", "", "", "bad frames", 5, "");
    std::string many = kHeader;
    for (int c = 1; c <= 3000; ++c) many += Row(1 + c / 1000, c, "5", c % 50 ? "0" : "2", "31", "OK", c % 700 ? "answered" : "no ACK", c / 10, c % 700 ? "900.000" : "", c % 300 == 0);
    const std::string files = dir.File("hostile <b>&.csv", hostile) + "' '" + dir.File("many.csv", many) + "' '" + dir.File("known.csv", KnownCsv());
    const std::string out = dir.Path("r.html");
    const auto [status, said] = Shell(kProgram + " --report " + out + " '" + files + "'");
    ASSERT_EQ(status, 3) << said;
    const std::string check = R"PY(
import sys, re, xml.etree.ElementTree as ET
from html.parser import HTMLParser
doc = open(sys.argv[1], encoding='utf-8').read()
root = ET.fromstring(doc.split('\n', 1)[1])
svg = '{http://www.w3.org/2000/svg}svg'
svgs = root.findall('.//' + svg)
class P(HTMLParser):
    tags = []
    def handle_starttag(self, tag, attrs): self.tags.append((tag, dict(attrs)))
p = P(); p.feed(doc); p.close()
names = [t for t, _ in p.tags]
remote = [a for _, attrs in p.tags for k, a in attrs.items() if k in ('src', 'href', 'action', 'background') and a]
texts = ''.join(root.itertext())
print('svgs', len(svgs), 'tables', names.count('table'), 'scripts', names.count('script') + names.count('iframe') + names.count('img'),
      'remote', len(remote), 'urls', len(re.findall(r'(?i)(https?:|url\(|@import|//[a-z])', doc.replace('http://www.w3.org/2000/svg', ''))),
      'hostile', "<script>alert('x')</script>, =cmd|' /C calc'!A0" in texts, 'name', 'hostile <b>&.csv' in texts)
)PY";
    const std::string script = dir.File("check.py", check);
    const auto [pyStatus, result] = Shell("python3 '" + script + "' " + out);
    EXPECT_EQ(pyStatus, 0) << result;
    // Four charts for each of the three modules; the modules' table and a runs table each.
    EXPECT_EQ(result, "svgs 12 tables 4 scripts 0 remote 0 urls 0 hostile True name True\n");
    std::ifstream in(out);
    const std::string html((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(html.find("@page { size: A4;"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    // Module errors by code with their text and count, in the modules' table and the run's row.
    EXPECT_EQ(Count(html, "0x38 Jam, exit: 1"), 2u);
}

}  // namespace
}  // namespace kalvor::report
