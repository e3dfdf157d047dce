#include "report/report_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "report/html_report.h"
#include "report/html_text.h"
#include "report/module_groups.h"
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

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Whether the file at `path` is a report this program wrote: its head carries our marker.
bool IsOurReport(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    // Reports written before the marker are known by their title.
    return head.find(kReportMarker) != std::string::npos ||
           head.find("<title>KALVOR TP burn-in report</title>") != std::string::npos;
}

// Why OUT must not be written ("" when it may): it must end in .html, must not be an input,
// and may replace only a regular file that is a report of ours.
std::string RefusalOf(const ReportOptions& o) {
    if (o.output == "-") return {};
    if (!EndsWith(o.output, ".html"))
        return "the report must be a file ending in .html (or - for standard output), not '" + o.output + "'";
    for (const std::string& in : o.inputs)
        if (in == o.output || SameFile(in, o.output))
            return "the report " + o.output + " would overwrite its input " + in;
    struct stat st {};
    if (::stat(o.output.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return "the report " + o.output + " cannot be written: " + std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) return "the report " + o.output + " exists and is not a regular file";
    if (!IsOurReport(o.output)) return "the report " + o.output + " exists and is not a kalvor-tp report: not replaced";
    return {};
}

// Writes `text` to a temporary file in the folder of `path` and renames it over `path`, so that
// `path` is either the old file or the whole new one. A symbolic link is followed: its target is
// replaced, the link stays.
std::string WriteWhole(const std::string& path, const std::string& text) {
    std::string target = path;
    char resolved[PATH_MAX];
    if (struct stat st {}; ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(path.c_str(), resolved))
        target = resolved;
    const size_t slash = target.rfind('/');
    std::string temp = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + ".kalvor-report-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return std::string("cannot create a file beside it: ") + std::strerror(errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    const int err = ok ? 0 : errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return {};
    const int why = err ? err : errno;
    ::unlink(temp.c_str());
    return std::strerror(why ? why : EIO);
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
    for (const std::string& in : o.inputs)
        if (in == "-") return "--report reads results files, not standard input";
    return RefusalOf(o);
}

int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err) {
    // Folders stand for their results files; the files of one module make one column.
    std::vector<std::string> paths;
    if (std::string e = ExpandInputs(options.inputs, paths); !e.empty()) {
        err << "kalvor-tp: " << e << "\n";
        return kReportBadInput;
    }
    std::vector<ModuleResults> files(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        if (std::string e = ReadResultsFile(paths[i], files[i]); !e.empty()) {
            err << "kalvor-tp: " << e << "\n";
            return kReportBadInput;
        }
    }
    const std::vector<ModuleResults> modules = GroupByModule(std::move(files));
    std::vector<ModuleFigures> figures;
    for (const ModuleResults& m : modules) figures.push_back(ComputeModule(m, options.limits));
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string html = HtmlReport(modules, figures, options.limits, now);
    if (options.output == "-") {
        out << html;
    } else if (std::string why = WriteWhole(options.output, html); !why.empty()) {
        err << "kalvor-tp: cannot write the report " << options.output << ": " << why << "\n";
        return kReportBadInput;
    }
    bool allPass = true;
    std::ostream& verdicts = options.output == "-" ? err : out;
    for (size_t i = 0; i < modules.size(); ++i) {
        const Figures& f = figures[i].total;
        verdicts << modules[i].name << ": " << Counted(f.cycles, "cycle", "cycles") << ", " << (f.Pass() ? "within limits" : "outside limits");
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
