// Starts the window from its module, kalvor-tp-window.so, found beside the program (a build
// folder) or in ../lib/kalvor-tp/ (an installed tree).
#pragma once

#include "app/headless/app_options.h"

namespace kalvor {

// Loads the module and runs the window; returns its exit status, or kExitBadOptions with a line
// on standard error when no usable module is found.
int RunWindowModule(int argc, char** argv, const AppOptions& options);

}  // namespace kalvor
