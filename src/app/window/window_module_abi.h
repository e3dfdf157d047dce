// What kalvor-tp and its window module (kalvor-tp-window.so) agree on: the module's file name,
// its two entry points, and the checks that keep a module from another build from being handed
// options it may lay out differently (the program's version, and the size of AppOptions).
#pragma once

#include <cstddef>

#include "app/headless/app_options.h"

namespace kalvor {

constexpr const char* kWindowModuleFile = "kalvor-tp-window.so";
constexpr const char* kWindowVersionSymbol = "kalvor_window_version";  // const char* ()
constexpr const char* kWindowRunSymbol = "kalvor_run_window";

// The version the module was built with (kProgramVersion).
using WindowVersionFn = const char* (*)();
// Runs the window; optionsSize is sizeof(AppOptions) in the program.
using RunWindowFn = int (*)(int argc, char** argv, const AppOptions* options, size_t optionsSize);

}  // namespace kalvor
