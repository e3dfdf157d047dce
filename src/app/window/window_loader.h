// Starts the window from its module, kalvor-tp-window.so, found beside the program (a build
// folder) or in ../lib/kalvor-tp/ (an installed tree).
#pragma once

#include <string>
#include <vector>

#include "app/headless/app_options.h"

namespace kalvor {

// The places looked at, in order, for a program at `programPath`.
std::vector<std::string> WindowModuleCandidates(const std::string& programPath);

// Loads the module and runs the window; returns its exit status, or kExitBadOptions with a line
// on standard error when no usable module is found.
int RunWindowModule(int argc, char** argv, const AppOptions& options);

}  // namespace kalvor
