// fuzz_script: arbitrary scripts (numbers, names, quotes, long lines, NUL bytes) run by the
// headless script runner against a whole console on the test host, its waits on the virtual clock
// and every command answered by the simulator's module model. Byte 0 holds the start flags of
// fuzz_console; the rest is the script, run line by line as a script fed on standard input runs.
//
// After every line: the console's invariants (the harness's checks), a clock that never goes
// back, a failed line reported with its number and a succeeded one that wrote nothing on the
// error stream; a plain `wait N` that succeeded moved the clock by exactly N, and one with N above
// 2147483647 failed; a control id above the template's range pressed nothing.
// KALVOR_FUZZ_TRACE=1 prints what the script printed and its error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "app/headless/script_runner.h"
#include "harness.h"
#include "support/script_test_host.h"
#include "zeda_module.h"

namespace {

constexpr int kMaxLines = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// "VERB DIGITS" with nothing else on the line: the digits, else empty.
std::string PlainNumberOperand(const std::string& line, const std::string& verb) {
    size_t p = 0;
    while (p < line.size() && IsBlank(line[p])) ++p;
    if (line.compare(p, verb.size(), verb) != 0) return {};
    p += verb.size();
    if (p >= line.size() || !IsBlank(line[p])) return {};
    while (p < line.size() && IsBlank(line[p])) ++p;
    const size_t start = p;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9') ++p;
    const std::string digits = line.substr(start, p - start);
    while (p < line.size() && IsBlank(line[p])) ++p;
    return p == line.size() ? digits : std::string();
}

// The value of a run of digits, saturated at 2^62.
int64_t Saturated(const std::string& digits) {
    int64_t v = 0;
    for (char c : digits) v = v > (int64_t{1} << 58) ? (int64_t{1} << 62) : v * 10 + (c - '0');
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kalvor::fuzz::Reader in(data, size);
    kalvor::fuzz::ConsoleHarness harness(in.U8());
    zeda::SimOptions sim;
    sim.model = harness.Dlg().Controls().Checked(1135) ? 2000 : 1000;
    sim.lowerPresent = sim.model == 2000;
    sim.rejectRate = 0.1;
    sim.seed = size;
    zeda::Module module(sim);
    kalvor::test::TestConsole& console = harness.Console();
    kalvor::test::ScriptTestHost host(console, &module);
    std::ostringstream out, err;
    kalvor::ScriptRunner runner(harness.Dlg(), host, out, err);

    const std::string script(reinterpret_cast<const char*>(data) + (size ? 1 : 0),
                             reinterpret_cast<const char*>(data) + size);
    std::istringstream lines(script);
    std::string line;
    for (int n = 1; n <= kMaxLines && !host.Ended() && std::getline(lines, line); ++n) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const int64_t before = console.host.now;
        const size_t writes = console.channel->writes.size();
        const size_t errLength = err.str().size();
        bool quit = false;
        const bool ok = runner.RunLine(line, n, quit);
        harness.Check();
        FUZZ_CHECK(console.host.now >= before, "the clock went back");
        const std::string reported = err.str().substr(errLength);
        if (ok) {
            FUZZ_CHECK(reported.empty(), "a line that succeeded reported: " + reported);
        } else {
            FUZZ_CHECK(reported.rfind(kalvor::ScriptErrorLine("script", n, ""), 0) == 0,
                       "a failed line reported as: " + reported);
        }
        const std::string wait = PlainNumberOperand(line, "wait");
        if (!wait.empty()) {
            const int64_t ms = Saturated(wait);
            if (ms > kalvor::kMaxScriptWaitMs) FUZZ_CHECK(!ok, "wait " + wait + " accepted");
            else if (ok && !host.Ended())
                FUZZ_CHECK(console.host.now - before == ms, "wait " + wait + " moved the clock by " +
                                                                std::to_string(console.host.now - before));
        }
        for (const char* verb : {"click", "check", "uncheck", "set", "print"}) {
            const std::string id = PlainNumberOperand(line, verb);
            if (!id.empty() && Saturated(id) > 65535) {
                FUZZ_CHECK(!ok, std::string(verb) + " " + id + " accepted");
                FUZZ_CHECK(console.channel->writes.size() == writes, "an id out of range wrote to the port");
            }
        }
        if (!ok || quit) break;
    }
    // KALVOR_FUZZ_TRACE: what the script printed, and its error, for triage.
    if (std::getenv("KALVOR_FUZZ_TRACE"))
        std::fprintf(stderr, "%s%s[%lld ms]\n", out.str().c_str(), err.str().c_str(),
                     static_cast<long long>(console.host.now));
    return 0;
}
