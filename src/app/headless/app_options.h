// Command-line options of kalvor-tp, shared by the window and the headless host.
#pragma once

#include <string>
#include <utility>
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
    int simulate = -1;       // --simulate [zeda1000|zeda2000|1000|2000]: -1 off, 0 ZEDA1000, 1 ZEDA2000
    bool listPorts = false;  // --list-ports: COM1-COM4 and the serial devices present, then exit
    // --port [COMn=]PATH, in the order given: COMn (1..4) points at PATH for this run.
    std::vector<std::pair<int, std::string>> ports;
    // The line and model the session starts with, as "SETUP" and the model radios set them.
    unsigned baud = 0;       // --baud 4800|9600|19200|38400; 0: the dialog's 9600
    int parity = -1;         // --parity none|even|odd: 0, 1, 2; -1: the dialog's none
    int model = -1;          // --model 1000|2000: 0 ZEDA1000, 1 ZEDA2000; -1: the dialog's ZEDA1000
    std::string module;      // --module NAME: the module's name in records and the trace header
    bool append = false;     // --append: results and trace files are appended to, not truncated
    int portWaitS = -1;      // --port-wait SECONDS: how long an absent or lost port is waited for; -1 not given
    int eventsFd = -1;       // --events-fd N (not in --help): run events as lines on descriptor N, for the bench
    std::vector<std::string> passThrough;  // arguments for the window toolkit

    // The model selected at start: --model, else the simulated one (--simulate), else -1.
    int StartModel() const { return model >= 0 ? model : simulate; }
};

constexpr const char* kProgramVersion = "1.02";


// Whether NAME can name a module: letters, digits, '-' and '_', 1 to 64 of them.
bool ValidModuleName(const std::string& name);

// Returns an empty string on success, else the complaint for a bad option (one line).
std::string ParseOptions(int argc, char** argv, AppOptions& options);
const char* UsageText();

}  // namespace kalvor
