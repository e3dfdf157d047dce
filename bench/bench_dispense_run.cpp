// A dispense run of 100 cycles against the module simulator, beside its floor. The console runs
// as `kalvor-tp --headless` does (CComm, the headless host, the script runner) on one side of a
// pseudo-terminal; the simulator serves the other side in a thread, sending at line speed.
//
// The floor of the run is what no console can go below: every byte on the line at line speed
// (both ways), the module's working time of every cycle, and the 500 ms pause after each answer but
// the last. The run is timed from the first dispense frame written to the ACK of the last answer
// (both taken from the channel's write trace).
//
//   bench_dispense_run [CYCLES [NOTES [TIME_SCALE [BAUD]]]]    (default 100 2 0.1 38400)
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "app/headless/headless_host.h"
#include "app/headless/script_runner.h"
#include "bench_support.h"
#include "console/console_dlg.h"
#include "zeda_simulator.h"

using namespace kalvor;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 100;
    const int notes = argc > 2 ? std::atoi(argv[2]) : 2;
    const double timeScale = argc > 3 ? std::atof(argv[3]) : 0.1;
    const unsigned baud = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 38400;
    if (cycles < 1 || cycles > 999 || notes < 0 || notes > 60) {
        std::fprintf(stderr, "usage: %s [CYCLES 1-999 [NOTES 0-60 [TIME_SCALE [BAUD]]]]\n", argv[0]);
        return 2;
    }

    int master = -1;
    std::string slave;
    if (!zeda::OpenPtyPair(master, slave)) return 1;
    char dir[] = "/tmp/kalvor-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    ::setenv("XDG_CONFIG_HOME", dir, 1);
    ::setenv("KALVOR_COM1", slave.c_str(), 1);

    zeda::SimOptions o;
    o.model = 2000;
    o.baud = baud;
    o.pacing = true;
    o.timeScale = timeScale;
    o.rejectRate = 0;
    o.notesUpper = 60000;
    zeda::Simulator sim(o);
    std::thread serving([&] { sim.Serve(master); });

    std::ostringstream out, err;
    HeadlessHost host(out);
    bench::NullProfile profile;
    auto dlg = std::make_unique<CConsoleDlg>(host, profile, std::make_unique<CComm>(), ConsoleOptions{});
    host.Attach(dlg.get());
    Clock::time_point firstWrite{}, lastWrite{};
    uint64_t writes = 0;
    dlg->Comm().SetTrace([&](bool tx, const uint8_t* data, size_t length) {
        if (!tx) return;
        const auto now = Clock::now();
        if (length > 1 && data[3] == 'E' && firstWrite == Clock::time_point{}) firstWrite = now;
        lastWrite = now;
        ++writes;
    });
    dlg->OnInitDialog();
    host.Pump();
    ScriptRunner runner(*dlg, host, out, err);
    const std::string script[] = {"tab 1",   "check 1026", "set 1028 " + std::to_string(notes),
                                  "set 1030 " + std::to_string(cycles), "click 1020", "wait run 3600000"};
    int line = 0;
    bool quit = false, ok = true;
    for (const std::string& s : script) ok = ok && runner.RunLine(s, ++line, quit);
    const std::string executed = dlg->Controls().Text(1032);
    dlg->OnClose();
    host.Shutdown();
    dlg.reset();
    sim.Stop();
    serving.join();
    ::close(master);
    std::filesystem::remove_all(dir);
    if (!ok) {
        std::fprintf(stderr, "%s", err.str().c_str());
        return 1;
    }

    const zeda::SimCounters c = sim.Counters();
    const double byteMs = 10.0 * 1000.0 / baud;
    const double lineMs = static_cast<double>(c.bytesSent + c.bytesReceived) * byteMs;
    const double workMs = static_cast<double>(cycles) * (o.mechMs + o.perNoteMs * notes) * timeScale;
    const double pausesMs = (cycles - 1) * 500.0;
    const double floorMs = lineMs + workMs + pausesMs;
    const double runMs = std::chrono::duration<double, std::milli>(lastWrite - firstWrite).count();
    std::printf("Dispense run: %d cycles of %d notes, ZEDA2000 simulator at %u baud, time scale %.2f\n", cycles,
                notes, baud, timeScale);
    std::printf("  executed count %s, module cycles %llu, answers acknowledged %llu, bytes %llu + %llu\n",
                executed.c_str(), static_cast<unsigned long long>(c.dispenseCycles),
                static_cast<unsigned long long>(c.responsesAcknowledged),
                static_cast<unsigned long long>(c.bytesReceived), static_cast<unsigned long long>(c.bytesSent));
    std::printf("  floor %.1f ms = line %.1f ms + module %.1f ms + pauses %.1f ms\n", floorMs, lineMs, workMs, pausesMs);
    std::printf("  run (first frame written to last ACK written) %.1f ms = %.4f x floor; %.2f ms per cycle above "
                "module time and pauses\n",
                runMs, runMs / floorMs, (runMs - workMs - pausesMs) / cycles);
    std::printf("  goal: run <= 1.02 x floor: %s\n", runMs <= 1.02 * floorMs ? "met" : "missed");
    return static_cast<int>(c.dispenseCycles) == cycles ? 0 : 1;
}
