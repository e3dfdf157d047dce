// End-to-end rig: the headless console (the same code as `kalvor-tp --headless`) talking to the
// module simulator over a real pseudo-terminal pair, with the channel's reader thread and real
// timers.
#pragma once

#include <string>

#include "zeda_simulator.h"

namespace kalvor::e2e {

struct Outcome {
    int status = -1;
    std::string out;  // what the headless host printed (prints, boxes, trace)
    std::string err;
    zeda::SimCounters counters;
    zeda::ModuleState state;
};

// Fast module: no mechanical delays beyond a tenth, no rejects, line pacing on.
zeda::SimOptions FastModule(int model = 2000);

Outcome RunConsole(const zeda::SimOptions& module, const std::string& script, bool trace = false,
                   bool calibration = false);

// Lines of `text` that start with `prefix`.
int CountLines(const std::string& text, const std::string& prefix);

}  // namespace kalvor::e2e
