// Command-line options of kalvor-tp, shared by the window and the headless host.
#pragma once

#include <string>
#include <utility>
#include <vector>

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
    int simulate = -1;       // --simulate [zeda1000|zeda2000|1000|2000]: -1 off, 0 ZEDA1000, 1 ZEDA2000
    bool listPorts = false;  // --list-ports: COM1-COM4 and the serial devices present, then exit
    // --port [COMn=]PATH, in the order given: COMn (1..4) points at PATH for this run.
    std::vector<std::pair<int, std::string>> ports;
    std::vector<std::string> passThrough;  // arguments for the window toolkit
};

constexpr const char* kProgramVersion = "1.02";

// Exit status of the headless host.
enum : int {
    kExitOk = 0,
    kExitScriptError = 1,
    kExitBadOptions = 2,
    kExitModuleError = 3,    // a module error code was shown
    kExitLinkGiveUp = 4,     // the link gave up (no ACK, no answer, bad frames)
    kExitBoth = 5,           // both of the above
};

// Returns an empty string on success, else the complaint for a bad option.
std::string ParseOptions(int argc, char** argv, AppOptions& options);
const char* UsageText();

}  // namespace kalvor
