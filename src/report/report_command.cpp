#include "report/report_command.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "report/html_report.h"
#include "report/results_file.h"

namespace kalvor::report {

namespace {

bool ParseNumber(const std::string& s, double max, double& v) {
    if (s.empty() || s.find_first_not_of("0123456789.") != std::string::npos) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size() && std::isfinite(v) && v >= 0 && v <= max;
}

bool ParseCount(const std::string& s, uint32_t& v) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    v = static_cast<uint32_t>(std::stoul(s));
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

bool WantsReport(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") break;
        if (a == "--report" || a.rfind("--report=", 0) == 0) return true;
    }
    return false;
}

std::string ParseReportOptions(int argc, char** argv, ReportOptions& o) {
    bool outputGiven = false, onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (onlyFiles || a == "-" || a.empty() || a[0] != '-') {
            o.inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyFiles = true;
            continue;
        }
        std::string value;
        const size_t eq = a.find('=');
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
            a.resize(eq);
        } else if (a == "--report" || a.rfind("--max-", 0) == 0 || a == "--min-cycles") {
            if (i + 1 >= argc) return a + " needs a value";
            value = argv[++i];
        }
        if (a == "--report") {
            if (outputGiven) return "--report given twice";
            if (value.empty()) return "--report needs the HTML file to write";
            o.output = value;
            outputGiven = true;
        } else if (a == "--max-reject-rate") {
            if (!ParseNumber(value, 100, o.limits.maxRejectRatePct))
                return "--max-reject-rate takes a percentage from 0 to 100, not '" + value + "'";
        } else if (a == "--max-answer-ms") {
            if (!ParseNumber(value, 1e9, o.limits.maxAnswerMs))
                return "--max-answer-ms takes milliseconds, not '" + value + "'";
        } else if (a == "--max-errors") {
            if (!ParseCount(value, o.limits.maxErrors)) return "--max-errors takes a count, not '" + value + "'";
        } else if (a == "--max-link-failures") {
            if (!ParseCount(value, o.limits.maxLinkFailures)) return "--max-link-failures takes a count, not '" + value + "'";
        } else if (a == "--min-cycles") {
            if (!ParseCount(value, o.limits.minCycles)) return "--min-cycles takes a count, not '" + value + "'";
        } else {
            return "unknown option '" + a + "' with --report";
        }
    }
    if (!outputGiven) return "--report needs the HTML file to write";
    if (o.inputs.empty()) return "--report needs at least one results file";
    for (const std::string& in : o.inputs) {
        if (in == "-") return "--report reads results files, not standard input";
        if (o.output != "-" && (in == o.output || SameFile(in, o.output)))
            return "the report " + o.output + " would overwrite its input " + in;
    }
    return {};
}

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<ModuleResults> modules(options.inputs.size());
    std::vector<ModuleFigures> figures;
    for (size_t i = 0; i < options.inputs.size(); ++i) {
        if (std::string e = ReadResultsFile(options.inputs[i], modules[i]); !e.empty()) {
            err << "kalvor-tp: " << e << "\n";
            return kReportBadInput;
        }
        figures.push_back(ComputeModule(modules[i], options.limits));
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string html = HtmlReport(modules, figures, options.limits, now);
    if (options.output == "-") {
        out << html;
    } else {
        std::ofstream file(options.output, std::ios::binary | std::ios::trunc);
        file << html;
        file.flush();
        if (!file) {
            err << "kalvor-tp: cannot write the report " << options.output << "\n";
            return kReportBadInput;
        }
    }
    bool allPass = true;
    std::ostream& verdicts = options.output == "-" ? err : out;
    for (size_t i = 0; i < modules.size(); ++i) {
        const Figures& f = figures[i].total;
        verdicts << modules[i].name << ": " << f.cycles << (f.cycles == 1 ? " cycle, " : " cycles, ") << (f.Pass() ? "within limits" : "outside limits");
        for (size_t k = 0; k < f.outside.size(); ++k) verdicts << (k ? "; " : ": ") << f.outside[k];
        verdicts << "\n";
        allPass = allPass && f.Pass();
    }
    return allPass ? kReportWithinLimits : kReportOutsideLimits;
}

int ReportMain(int argc, char** argv, std::ostream& out, std::ostream& err) {
    ReportOptions options;
    if (std::string bad = ParseReportOptions(argc, argv, options); !bad.empty()) {
        err << "kalvor-tp: " << bad << "\n";
        return kReportBadInput;
    }
    return RunReport(options, out, err);
}

}  // namespace kalvor::report
