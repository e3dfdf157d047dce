// The entry points of kalvor-tp-window.so, the window that kalvor-tp loads when it is asked for.
// Kept apart from the program so that `kalvor-tp --headless` never maps Qt's libraries.
#include <iostream>

#include "app/window/window_module_abi.h"
#include "ui/qt_app.h"

extern "C" {

__attribute__((visibility("default"))) const char* kalvor_window_version() { return kalvor::kProgramVersion; }

__attribute__((visibility("default"))) int kalvor_run_window(int argc, char** argv, const kalvor::AppOptions* options,
                                                             size_t optionsSize) {
    if (!options || optionsSize != sizeof(kalvor::AppOptions)) {
        std::cerr << "kalvor-tp: the window module does not belong to this program\n";
        return kalvor::kExitBadOptions;
    }
    return kalvor::RunWindow(argc, argv, *options);
}

}  // extern "C"
