#pragma once

#include <iosfwd>

#include "app/headless/app_options.h"

namespace kalvor {

// Runs the console without a display: the script's actions, boxes printed and closed at once.
// Returns the exit status (0, 1 for a script error).
int RunHeadless(const AppOptions& options, std::istream& script, std::ostream& out, std::ostream& err);

}  // namespace kalvor
