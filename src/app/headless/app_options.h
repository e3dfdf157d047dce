// Command-line options of kalvor-tp, shared by the window and the headless host.
#pragma once

#include <string>
#include <vector>

#include "burnin/exit_status.h"

namespace kalvor {

struct AppOptions {
    bool help = false;
    bool version = false;
    bool headless = false;
    std::string script;      // --script FILE (headless); empty: standard input
    bool trace = false;      // --trace: a line per write and received chunk
    std::string traceFile;   // --trace FILE: a timed, decoded protocol trace in FILE instead
    std::string results;     // --results FILE: one CSV row per dispense cycle
    bool calibration = false;
    bool progress = false;   // --progress: a plain progress line per cycle on standard error
    bool quiet = false;      // --quiet: no progress line
    int simulate = -1;       // --simulate [zeda1000|zeda2000]: -1 off, 0 ZEDA1000, 1 ZEDA2000
    std::vector<std::string> passThrough;  // arguments for the window toolkit
};

constexpr const char* kProgramVersion = "1.02";


// Returns an empty string on success, else the complaint for a bad option.
std::string ParseOptions(int argc, char** argv, AppOptions& options);
const char* UsageText();

}  // namespace kalvor
