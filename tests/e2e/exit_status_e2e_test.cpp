// Every way a headless session can end, with its exit status and the line on standard error that
// tells what happened, against the simulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>

#include "e2e_rig.h"

using namespace kalvor;
using namespace kalvor::e2e;

namespace {

const char* const kRun3 = "tab 1; check 1026; set 1028 1; set 1030 3; click 1020; wait run 20000; quit";

struct Case {
    const char* name;
    std::function<void(zeda::SimOptions&, AppOptions&)> setUp;
    std::string script;
    int status;
    const char* stderrHas;  // a part of the last line on standard error
};

}  // namespace

TEST(ExitStatus, EveryEndingHasItsStatusAndItsLine) {
    ::setenv("KALVOR_COM4", "/nonexistent/ttyUSB9", 1);
    const Case cases[] = {
        {"all went well", nullptr, kRun3, kExitOk, "3 cycles, 0 module errors, 0 link give-ups (exit 0)"},
        {"script error", nullptr, "tab 1; frobnicate", kExitScriptError, "script error (exit 1)"},
        {"results file in a missing folder", [](auto&, AppOptions& o) { o.results = "/nonexistent/r.csv"; }, kRun3,
         kExitBadOptions, "cannot write the results file /nonexistent/r.csv: No such file or directory"},
        {"module error", [](zeda::SimOptions& m, auto&) { m.faults.errorAt.push_back({2, 0x41}); }, kRun3,
         kExitModuleError, "2 cycles, 1 module error (41), 0 link give-ups (exit 3)"},
        {"answer cut off", [](zeda::SimOptions& m, auto&) { m.faults.cutResponse = 1.0; }, kRun3, kExitLinkGiveUp,
         "1 cycle, 0 module errors, 1 link give-up (exit 4)"},
        {"module error and a cut-off answer",  // the simulator's seed 1 cuts the second answer only
         [](zeda::SimOptions& m, auto&) {
             m.faults.errorAt.push_back({1, 0x41});
             m.faults.cutResponse = 0.5;
             m.seed = 1;
         },
         "tab 1; check 1026; set 1028 1; click 1020; wait run 20000; click 1020; wait run 20000; quit", kExitBoth,
         "2 cycles, 1 module error (41), 1 link give-up (exit 5)"},
        {"a failed bench wins over a module error",
         [](zeda::SimOptions& m, auto&) { m.faults.errorAt.push_back({1, 0x41}); },
         "tab 1; check 1026; set 1028 1; click 1020; wait run 20000; tab 2; check 1009; click 1020; quit",
         kExitBenchFailed, "1 module error (41), 0 link give-ups, port could not be opened once (exit 6)"},
        {"port not opened", nullptr, "tab 2; check 1009; click 1020; quit", kExitBenchFailed,
         "port could not be opened once (exit 6)"},
        {"request refused", nullptr, "tab 1; check 1026; set 1030 1234; click 1020; quit", kExitBenchFailed,
         "1 request refused (exit 6)"},
        {"results file a device", [](auto&, AppOptions& o) { o.results = "/dev/full"; }, kRun3, kExitBadOptions,
         "results file /dev/full: it is a device, not a regular file"},
        {"trace file a device",
         [](auto&, AppOptions& o) {
             o.trace = true;
             o.traceFile = "/dev/full";
         },
         kRun3, kExitBadOptions, "trace file /dev/full: it is a device, not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zeda::SimOptions module = FastModule();
        AppOptions options;
        if (c.setUp) c.setUp(module, options);
        const Outcome r = RunConsole(module, c.script, options);
        EXPECT_EQ(r.status, c.status) << r.err << r.out;
        EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
    }
    ::unsetenv("KALVOR_COM4");
}
