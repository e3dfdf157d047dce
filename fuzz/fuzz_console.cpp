// fuzz_console: the fuzz input drives a whole console on the test host (virtual clock, recording
// channel): received bytes in chunks of 1-80, the clock moving and timers firing, clicks on any
// visible enabled control, text typed into any visible enabled edit, tab switches and the model,
// both models and all six pages. After every operation the harness checks the link's and the
// dialog's invariants and every byte the console wrote.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kalvor::fuzz::Reader in(data, size);
    kalvor::fuzz::ConsoleHarness harness(in.U8());
    while (harness.Step(in)) {
    }
    return 0;
}
