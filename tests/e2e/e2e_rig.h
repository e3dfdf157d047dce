// End-to-end rig: the headless console (the same code as `kalvor-tp --headless`) talking to the
// module simulator over a real pseudo-terminal pair, with the channel's reader thread and real
// timers.
#pragma once

#include <string>

#include "app/headless/app_options.h"
#include "zeda_simulator.h"

namespace kalvor::e2e {

struct Outcome {
    int status = -1;
    std::string out;  // what the headless host printed (prints, boxes, trace), boxes without their times
    std::string rawOut;  // the same as printed
    std::string err;
    zeda::SimCounters counters;
    zeda::ModuleState state;
};

// Fast module: no mechanical delays beyond a tenth, no rejects, line pacing on.
zeda::SimOptions FastModule(int model = 2000);

// Runs the headless console (`options`, made headless) on `script`, whose lines may also be
// separated by "; ", against a simulator with `module` on COM1, in a fresh profile folder.
Outcome RunConsole(const zeda::SimOptions& module, const std::string& script, AppOptions options = {});
// Options with one switch set, e.g. With(&AppOptions::trace).
inline AppOptions With(bool AppOptions::*option) {
    AppOptions o;
    o.*option = true;
    return o;
}

// `text` with the times of its box lines taken out: "BOX [1.234] Error: ..." as "BOX Error: ...".
std::string Untimed(const std::string& text);

// Lines of `text` that start with `prefix`.
int CountLines(const std::string& text, const std::string& prefix);

}  // namespace kalvor::e2e
