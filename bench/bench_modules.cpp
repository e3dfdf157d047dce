// The bench (kalvor-tp --bench) against many simulated modules, beside one module alone.
//
//   bench_modules scale N [CYCLES]     N simulated modules (zeda-sim --time-scale 0.2): first one
//                                      console alone (kalvor-tp --headless), then N consoles started
//                                      by hand beside each other, then the bench of N;
//                                      wall time and console-side CPU per module-cycle of both and
//                                      their ratios, peak resident memory per module, give-ups
//   bench_modules busy N SECONDS       N modules for SECONDS while two `yes` keep both cores busy:
//                                      give-ups, and who was late (see Lateness below)
//   bench_modules whose DIR MODULE     the same verdict again on a folder a busy run kept
//
// The script is `burn CYCLES`, two notes from the upper cassette a cycle (the busy bench: one run
// of a large Repeat Count for the time given). Console-side CPU is the user+system time of the
// console processes (the supervisor and its sessions, all waited for, so getrusage(RUSAGE_CHILDREN)
// counts them), taken before the simulators are stopped; the simulators' own CPU is not in it.
//
// Lateness: from each module's trace (the console's monotonic time stamps of its reads and
// writes), the console's own turnaround is the time from the answer's last byte read to the ACK
// written; the line's side is the time from a command written to its ACK read (the simulator
// acknowledges at once, so all of it is the simulator's scheduling and the pseudo-terminal). Each
// give-up of the busy run is put on one side by WhoseGiveUp below, against the simulator's log.
//
// Run it from the build folder holding kalvor-tp and zeda-sim (or set KALVOR_BIN_DIR at build).
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const std::string kBin = KALVOR_BIN_DIR;

pid_t Spawn(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

double CpuSeconds(const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Resident kB of `pid` and all its descendants.
long TreeRssKb(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> procs;  // pid, parent
    std::vector<long> rss;
    DIR* d = opendir("/proc");
    if (!d) return 0;
    for (dirent* e; (e = readdir(d));) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        std::ifstream status("/proc/" + std::string(e->d_name) + "/status");
        pid_t parent = 0;
        long kb = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("PPid:", 0) == 0) parent = static_cast<pid_t>(std::atol(line.c_str() + 5));
            if (line.rfind("VmRSS:", 0) == 0) kb = std::atol(line.c_str() + 6);
        }
        procs.emplace_back(pid, parent);
        rss.push_back(kb);
    }
    closedir(d);
    std::vector<pid_t> tree = {root};
    long total = 0;
    for (bool grew = true; grew;) {
        grew = false;
        for (size_t i = 0; i < procs.size(); ++i)
            if (std::find(tree.begin(), tree.end(), procs[i].first) == tree.end() &&
                std::find(tree.begin(), tree.end(), procs[i].second) != tree.end()) {
                tree.push_back(procs[i].first);
                grew = true;
            }
    }
    for (size_t i = 0; i < procs.size(); ++i)
        if (std::find(tree.begin(), tree.end(), procs[i].first) != tree.end()) total += rss[i];
    return total;
}

struct Run {
    double wallS = 0, cpuS = 0;
    long peakRssKb = 0;
    int status = -1;
};

// Runs `command` to its end; its CPU (with its waited-for descendants) and peak tree memory.
Run Measure(const std::string& command) {
    Run r;
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = Clock::now();
    const pid_t pid = Spawn(command);
    int st = 0;
    for (int k = 0;; ++k) {
        const pid_t w = waitpid(pid, &st, WNOHANG);
        if (w == pid) break;
        if (k % 10 == 0) r.peakRssKb = std::max(r.peakRssKb, TreeRssKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    r.wallS = std::chrono::duration<double>(Clock::now() - start).count();
    getrusage(RUSAGE_CHILDREN, &after);
    r.cpuS = CpuSeconds(after) - CpuSeconds(before);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

struct Sims {
    std::vector<pid_t> pids;
    Sims(const std::string& dir, int n, const std::string& args) {
        for (int i = 0; i < n; ++i)
            pids.push_back(Spawn(kBin + "/zeda-sim " + args + " --seed " + std::to_string(i + 1) + " --link " + dir +
                                 "/m" + std::to_string(i) + " >/dev/null 2>" + dir + "/m" + std::to_string(i) + ".sim"));
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < 500 && !std::filesystem::exists(dir + "/m" + std::to_string(i)); ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Sims() {
        for (pid_t p : pids) kill(p, SIGTERM);
        for (pid_t p : pids) waitpid(p, nullptr, 0);
    }
};

struct Records {
    unsigned cycles = 0, giveUps = 0, interrupted = 0;
    std::string kinds;  // "m3 cycle 12 bad frames; ..."
};

Records ReadRecords(const std::string& csv, const std::string& name) {
    Records r;
    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (line.find(",no ACK,") != std::string::npos || line.find(",no answer,") != std::string::npos ||
            line.find(",bad frames,") != std::string::npos) {
            ++r.giveUps;
            for (const char* k : {"no ACK", "no answer", "bad frames"})
                if (line.find("," + std::string(k) + ",") != std::string::npos)
                    r.kinds += name + " record " + std::to_string(r.cycles + 1) + " " + k + "; ";
        }
        else if (line.find(",interrupted,") != std::string::npos)
            ++r.interrupted;
        ++r.cycles;
    }
    return r;
}

struct Lateness {
    double turnaroundMaxMs = 0;  // answer read to ACK written: the console's
    double ackMaxMs = 0;         // command written to ACK read: the simulator's and the line's
    unsigned lateTurnarounds = 0;
};

// From a trace: "MS +DELTA TX|RX bytes | text".
void ReadLateness(const std::string& trace, Lateness& l) {
    std::ifstream in(trace);
    double commandMs = -1, answerMs = -1;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream w(line);
        double ms = 0;
        std::string delta, dir;
        w >> ms >> delta >> dir;
        const bool answer = line.find("| answer") != std::string::npos;
        if (dir == "TX" && line.find("| command") != std::string::npos) commandMs = ms;
        if (dir == "RX" && line.find("| ACK") != std::string::npos && commandMs >= 0) {
            l.ackMaxMs = std::max(l.ackMaxMs, ms - commandMs);
            commandMs = -1;
        }
        if (dir == "RX" && answer) answerMs = ms;
        if (dir == "TX" && line.find("| ACK") != std::string::npos && answerMs >= 0) {
            l.turnaroundMaxMs = std::max(l.turnaroundMaxMs, ms - answerMs);
            if (ms - answerMs > 100) ++l.lateTurnarounds;
            answerMs = -1;
        }
    }
}

// Whose a give-up was, from the module's trace (the console's clock, ms since its start) and the
// simulator's --verbose log (seconds since its start). A give-up ends the run, so it is the last
// exchange of both. The clocks are put side by side by the commands: the k-th command written in
// the trace is the k-th command read in the log, and the smallest difference is the offset (the
// fastest delivery, next to nothing). The answer's last piece written by the simulator is then
// compared with the console's last read: written more than the console's frame wait (150 ms)
// after it, the simulator was late; written before the console gave up, the console was.
std::string WhoseGiveUp(const std::string& trace, const std::string& simLog) {
    std::vector<double> tx, rx;
    std::vector<std::pair<double, double>> answers;
    // The console's last read of the cut answer: a piece of a frame after which nothing came for
    // the frame wait (150 ms). Bytes that came after that are not counted.
    double lastRead = -1, pieceAt = -1;
    std::ifstream t(trace);
    for (std::string line; std::getline(t, line);) {
        if (line.empty() || line[0] == '#') continue;
        const double ms = std::atof(line.c_str());
        if (line.find(" TX 04 50 ") != std::string::npos) tx.push_back(ms);
        if (line.find(" RX ") == std::string::npos) continue;
        if (pieceAt >= 0 && ms - pieceAt >= 150) lastRead = pieceAt;
        pieceAt = line.find("frame continues") != std::string::npos ? ms : -1;
    }
    if (pieceAt >= 0) lastRead = pieceAt;
    std::ifstream l(simLog);
    for (std::string line; std::getline(l, line);) {
        if (line.empty() || line[0] != '[') continue;
        const double ms = std::atof(line.c_str() + 1) * 1000.0;
        if (line.find("] rx 04 50 ") != std::string::npos) rx.push_back(ms);
        // Each answer's start and the end of its last piece.
        if (line.find("] tx answer") != std::string::npos) answers.push_back({ms, -1});
        if (line.find("] tx done: ") != std::string::npos && !answers.empty() && answers.back().second < 0)
            answers.back().second = ms;
    }
    if (tx.empty() || rx.empty() || answers.empty()) return "not told (no exchange in the logs)";
    if (lastRead < 0) return "not told (not a cut answer: no piece of a frame left unfinished for 150 ms)";
    double offset = 1e18;
    for (size_t k = 0; k < std::min(tx.size(), rx.size()); ++k) offset = std::min(offset, rx[k] - tx[k]);
    // The answer that was cut: the last one the simulator began before the console's last read
    // (give or take 50 ms: the smallest delivery is not nothing, so the offset is a little high).
    double lastPiece = -1;  // on the console's clock
    for (const auto& [start, end] : answers)
        if (start - offset <= lastRead + 50 && end >= 0) lastPiece = end - offset;
    if (lastPiece < 0) return "not told (no answer of the simulator's before the cut)";
    char text[200];
    if (lastPiece > lastRead + 150)
        std::snprintf(text, sizeof text, "the simulator's: its last piece went out %.0f ms after the console's last read",
                      lastPiece - lastRead);
    else
        std::snprintf(text, sizeof text, "the console's: the simulator's last piece went out %.0f ms after the console's "
                      "last read, so within the console's 150 ms, and the console did not read it in time",
                      lastPiece - lastRead);
    return std::string(text) + (tx.size() == rx.size() ? "" : " (commands unpaired: " + std::to_string(tx.size()) + " written, " +
                                                              std::to_string(rx.size()) + " read)");
}

std::string Script(const std::string& dir, unsigned cycles, long waitMs) {
    const std::string path = dir + "/script.txt";
    std::ofstream script(path);
    script << "tab 1\ncheck UPPER\nset \"Upper Request Count\" 2\n";
    // A run for a time (the busy bench), or a burn of CYCLES.
    if (waitMs > 0) script << "set \"Repeat Count\" " << cycles << "\nclick DISPENSE\nwait " << waitMs << "\nquit\n";
    else script << "burn " << cycles << "\nquit\n";
    return path;
}

std::string BenchFile(const std::string& dir, int n) {
    std::ofstream f(dir + "/bench.txt");
    for (int i = 0; i < n; ++i) f << "m" << i << " " << dir << "/m" << i << "\n";
    return dir + "/bench.txt";
}

Records AllRecords(const std::string& out, int n, Lateness& late) {
    Records all;
    for (int i = 0; i < n; ++i) {
        const Records r = ReadRecords(out + "/m" + std::to_string(i) + ".csv", "m" + std::to_string(i));
        all.kinds += r.kinds;
        all.cycles += r.cycles;
        all.giveUps += r.giveUps;
        all.interrupted += r.interrupted;
        ReadLateness(out + "/m" + std::to_string(i) + ".trace", late);
    }
    return all;
}

int Scale(int n, unsigned cycles) {
    char tmpl[] = "/tmp/kalvor-bench-modules-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string script = Script(dir, cycles, 0);
    const std::string sim = "--time-scale 0.2";

    Run lone;
    Records loneRecords;
    Lateness loneLate;
    {
        Sims sims(dir, 1, sim);
        std::filesystem::create_directory(dir + "/lone");
        lone = Measure(kBin + "/kalvor-tp --headless --script " + script + " --port " + dir + "/m0 --module m0" +
                       " --results " + dir + "/lone/m0.csv --trace=" + dir + "/lone/m0.trace --quiet 2>/dev/null");
        loneRecords = AllRecords(dir + "/lone", 1, loneLate);
    }
    // The same N consoles started by hand beside each other (as a shell loop with `&` would),
    // without a supervisor: what the bench may cost is the difference to this.
    Run byHand;
    Records byHandRecords;
    Lateness byHandLate;
    {
        Sims sims(dir, n, sim);
        std::filesystem::create_directory(dir + "/hand");
        std::string loop;
        for (int i = 0; i < n; ++i) {
            const std::string m = "m" + std::to_string(i);
            loop += kBin + "/kalvor-tp --headless --script " + script + " --port " + dir + "/" + m + " --module " + m +
                    " --results " + dir + "/hand/" + m + ".csv --trace=" + dir + "/hand/" + m + ".trace --quiet 2>/dev/null & ";
        }
        byHand = Measure("sh -c '" + loop + "wait'");
        byHandRecords = AllRecords(dir + "/hand", n, byHandLate);
    }
    Run bench;
    Records benchRecords;
    Lateness benchLate;
    {
        Sims sims(dir, n, sim);
        bench = Measure(kBin + "/kalvor-tp --bench " + BenchFile(dir, n) + " --script " + script + " --out " + dir +
                        "/bench --quiet 2>" + dir + "/bench.err");
        benchRecords = AllRecords(dir + "/bench", n, benchLate);
    }
    const double loneCpuPerCycle = lone.cpuS / std::max(1u, loneRecords.cycles);
    const double benchCpuPerCycle = bench.cpuS / std::max(1u, benchRecords.cycles);
    std::printf("modules %d, script: burn %u, zeda-sim %s\n", n, cycles, sim.c_str());
    std::printf("alone:  wall %.2f s, cycles %u, give-ups %u, CPU %.3f s = %.2f ms per cycle, peak memory %ld kB, exit %d\n",
                lone.wallS, loneRecords.cycles, loneRecords.giveUps, lone.cpuS, loneCpuPerCycle * 1e3, lone.peakRssKb,
                lone.status);
    std::printf("bench:  wall %.2f s, cycles %u, give-ups %u, CPU %.3f s = %.2f ms per module-cycle, peak memory %ld kB "
                "(%.0f kB per module), exit %d\n",
                bench.wallS, benchRecords.cycles, benchRecords.giveUps, bench.cpuS, benchCpuPerCycle * 1e3,
                bench.peakRssKb, static_cast<double>(bench.peakRssKb) / n, bench.status);
    const double byHandCpuPerCycle = byHand.cpuS / std::max(1u, byHandRecords.cycles);
    std::printf("by hand: wall %.2f s, cycles %u, give-ups %u, CPU %.3f s = %.2f ms per module-cycle, peak memory %ld kB "
                "(%.0f kB per module)\n",
                byHand.wallS, byHandRecords.cycles, byHandRecords.giveUps, byHand.cpuS, byHandCpuPerCycle * 1e3,
                byHand.peakRssKb, static_cast<double>(byHand.peakRssKb) / n);
    std::printf("ratios: wall %.3f x (goal <= 1.05), CPU per module-cycle %.3f x (goal <= 1.5); by hand %.3f x and %.3f x\n",
                bench.wallS / lone.wallS, benchCpuPerCycle / loneCpuPerCycle, byHand.wallS / lone.wallS,
                byHandCpuPerCycle / loneCpuPerCycle);
    std::printf("lateness: console turnaround max %.1f ms alone, %.1f ms on the bench; command to ACK max %.1f ms alone, "
                "%.1f ms on the bench\n",
                loneLate.turnaroundMaxMs, benchLate.turnaroundMaxMs, loneLate.ackMaxMs, benchLate.ackMaxMs);
    if (!benchRecords.kinds.empty() || !byHandRecords.kinds.empty()) {
        std::printf("give-ups on the bench: %s\ngive-ups by hand: %s\nkept in %s\n", benchRecords.kinds.c_str(),
                    byHandRecords.kinds.c_str(), dir.c_str());
    } else {
        std::filesystem::remove_all(dir);
    }
    return benchRecords.giveUps == 0 && benchRecords.cycles == static_cast<unsigned>(n) * cycles ? 0 : 1;
}

int Busy(int n, int seconds) {
    char tmpl[] = "/tmp/kalvor-bench-busy-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string script = Script(dir, 999, static_cast<long>(seconds) * 1000);
    std::vector<pid_t> load = {Spawn("yes >/dev/null"), Spawn("yes >/dev/null")};
    Run bench;
    Records records;
    Lateness late;
    {
        Sims sims(dir, n, "--time-scale 0.2 --verbose");
        bench = Measure(kBin + "/kalvor-tp --bench " + BenchFile(dir, n) + " --script " + script + " --out " + dir +
                        "/bench --quiet 2>" + dir + "/bench.err");
        records = AllRecords(dir + "/bench", n, late);
    }
    for (pid_t p : load) kill(-p, SIGTERM);
    for (pid_t p : load) waitpid(p, nullptr, 0);
    std::printf("busy: %d modules for %d s beside two `yes`: wall %.1f s, cycles %u, give-ups %u, interrupted at the end %u, "
                "exit %d\n",
                n, seconds, bench.wallS, records.cycles, records.giveUps, records.interrupted, bench.status);
    std::printf("lateness: console turnaround (answer read to ACK written) max %.1f ms, %u over 100 ms; "
                "command written to ACK read max %.1f ms\n",
                late.turnaroundMaxMs, late.lateTurnarounds, late.ackMaxMs);
    for (int i = 0; i < n; ++i) {
        const std::string m = "m" + std::to_string(i);
        if (ReadRecords(dir + "/bench/" + m + ".csv", m).giveUps > 0)
            std::printf("give-up of %s: %s\n", m.c_str(), WhoseGiveUp(dir + "/bench/" + m + ".trace", dir + "/" + m + ".sim").c_str());
    }
    // With give-ups the folder stays, for their traces beside the simulators' own logs.
    if (records.giveUps > 0) std::printf("give-ups: %sthe traces are in %s/bench, the simulators' logs in %s/m*.sim\n",
                                         records.kinds.c_str(), dir.c_str(), dir.c_str());
    else std::filesystem::remove_all(dir);
    return records.giveUps == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "scale";
    const int n = argc > 2 && mode != "whose" ? std::atoi(argv[2]) : 64;
    if (mode == "scale") return Scale(n, argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 20);
    if (mode == "busy") return Busy(n, argc > 3 ? std::atoi(argv[3]) : 600);
    if (mode == "whose" && argc > 3) {  // bench_modules whose DIR MODULE: a kept folder's give-up again
        const std::string dir = argv[2], m = argv[3];
        std::printf("%s: %s\n", m.c_str(), WhoseGiveUp(dir + "/bench/" + m + ".trace", dir + "/" + m + ".sim").c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: bench_modules scale N [CYCLES] | busy N SECONDS | whose DIR MODULE\n");
    return 2;
}
