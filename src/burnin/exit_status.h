// Exit status of a kalvor-tp session (README, --help and the manual page say the same).
#pragma once

namespace kalvor {

enum : int {
    kExitOk = 0,
    kExitScriptError = 1,
    kExitBadOptions = 2,
    kExitModuleError = 3,   // a module error code was shown
    kExitLinkGiveUp = 4,    // the link gave up (its four boxes, or a run ended by a cut-off answer)
    kExitBoth = 5,          // both 3 and 4
    kExitBenchFailed = 6,   // the port could not be opened or was lost, a request was refused, or a
                            // results or trace file could not be written; wins over 3-5
};

}  // namespace kalvor
