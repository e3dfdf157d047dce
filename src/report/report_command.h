// kalvor-tp --report OUT.html RESULTS...: reads results files (no serial port), writes the
// HTML report and judges every module against the limits.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/report_stats.h"

namespace kalvor::report {

// Exit status of --report.
enum : int {
    kReportWithinLimits = 0,
    kReportBadInput = 2,       // bad options, or an input that cannot be read or is malformed
    kReportOutsideLimits = 3,  // some module outside the limits
};

// Written into the head of every report; an existing OUT is replaced only when it carries it.
constexpr const char* kReportMarker = "<meta name=\"generator\" content=\"kalvor-tp report\"/>";

struct ReportOptions {
    std::string output;               // "-": standard output
    std::vector<std::string> inputs;
    Limits limits;
};

// Whether the arguments ask for a report (one of them is --report).
bool WantsReport(int argc, char** argv);
// Empty string, or what is wrong with the options.
std::string ParseReportOptions(int argc, char** argv, ReportOptions& options);
// Reads the inputs, writes the report, prints a verdict line per module on `out`, complaints on `err`.
int RunReport(const ReportOptions& options, std::ostream& out, std::ostream& err);
// The whole command, from the arguments.
int ReportMain(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace kalvor::report
