// The console in its window.
#pragma once

#include "app/headless/app_options.h"

namespace kalvor {

// Runs the console in a window until "EXIT" or the close box: the same set-up as the headless
// host (profile, --simulate, --calibration, --trace, --results), a QtHost and the console's window.
// Returns the exit status: 0, or 2 when the simulated module, the trace file or the results
// file cannot be set up.
int RunWindow(int argc, char** argv, const AppOptions& options);

}  // namespace kalvor
