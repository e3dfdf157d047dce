// kalvor-tp --bench BENCHFILE --script FILE [--out DIR] [--jsonl] [--port-wait SECONDS]
// [--progress | --quiet] [report limits]: the options of the bench's supervisor.
#pragma once

#include <string>

#include "report/report_stats.h"

namespace kalvor::bench {

enum class Display { Auto, Progress, Quiet };

struct BenchOptions {
    std::string benchFile;
    std::string script;
    std::string out;            // empty: bench-YYYYMMDD-HHMMSS in the working folder
    bool jsonl = false;         // NAME.jsonl instead of NAME.csv
    int portWaitS = 300;        // how long an absent port is waited for (and a lost one, by the session)
    Display display = Display::Auto;
    report::Limits limits;
    unsigned burnPlanned = 0;   // the script's `burn N` in all, once the script is checked
};

// Whether the arguments ask for a bench (one of them is --bench).
bool WantsBench(int argc, char** argv);
// Empty, or what is wrong (one line).
std::string ParseBenchOptions(int argc, char** argv, BenchOptions& options);

}  // namespace kalvor::bench
