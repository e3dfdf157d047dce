#include "bench/bench_options.h"

#include <cstring>
#include <vector>

#include "report/report_command.h"

namespace kalvor::bench {

namespace {

bool IsLimit(const std::string& name) {
    return name == "--max-reject-rate" || name == "--max-answer-ms" || name == "--max-errors" ||
           name == "--max-link-failures" || name == "--min-cycles";
}

}  // namespace

bool WantsBench(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--bench" || a.rfind("--bench=", 0) == 0) return true;
    }
    return false;
}

std::string ParseBenchOptions(int argc, char** argv, BenchOptions& o) {
    std::vector<std::string> limitArgs;
    bool progress = false, quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i], value;
        const size_t eq = a.find('=');
        const bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = a.substr(eq + 1);
            a.resize(eq);
        }
        auto take = [&](std::string& into) -> std::string {
            if (!hasValue) {
                if (i + 1 >= argc) return a + " needs a value";
                value = argv[++i];
            }
            if (value.empty()) return a + " needs a value";
            into = value;
            return {};
        };
        std::string bad;
        if (a == "--bench") {
            bad = take(o.benchFile);
        } else if (a == "--script") {
            bad = take(o.script);
        } else if (a == "--out") {
            bad = take(o.out);
        } else if (a == "--port-wait") {
            std::string v;
            bad = take(v);
            if (bad.empty() && (v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos))
                bad = "--port-wait takes seconds from 0 to 999999, not '" + v + "'";
            if (bad.empty()) o.portWaitS = std::stoi(v);
        } else if (IsLimit(a)) {
            std::string v;
            bad = take(v);
            limitArgs.push_back(a + "=" + v);
        } else if (hasValue) {
            bad = "unknown option '" + a + "=' with --bench";
        } else if (a == "--jsonl") {
            o.jsonl = true;
        } else if (a == "--progress") {
            progress = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else {
            bad = "unknown option '" + a + "' with --bench";
        }
        if (!bad.empty()) return bad;
    }
    if (o.benchFile.empty()) return "--bench needs the bench file";
    if (o.script.empty()) return "--bench needs --script FILE (every module runs it)";
    if (progress && quiet) return "--progress and --quiet contradict each other: give one of them";
    o.display = progress ? Display::Progress : quiet ? Display::Quiet : Display::Auto;
    // The limits are the report's own, checked by its own parser.
    std::vector<std::string> args = {"kalvor-tp", "--report", "report.html"};
    args.insert(args.end(), limitArgs.begin(), limitArgs.end());
    args.push_back("results.csv");
    std::vector<char*> argvReport;
    for (std::string& s : args) argvReport.push_back(s.data());
    report::ReportOptions reportOptions;
    if (std::string bad = report::ParseReportOptions(static_cast<int>(argvReport.size()), argvReport.data(), reportOptions);
        !bad.empty())
        return bad;
    o.limits = reportOptions.limits;
    return {};
}

}  // namespace kalvor::bench
