// Soak: thousands of dispense cycles, headless, against the module simulator in this process over
// a pseudo-terminal, with faults of every kind injected. The console is the one of
// `kalvor-tp --headless --results FILE` (RunHeadless); its script comes from a generator that,
// each time a run has ended ("wait run"), looks at the results file and starts the next run, until
// the wanted number of cycles has been written. A "wait run" that hits its limit (a run that never
// ends) counts as a hang; the console is then started again and the soak goes on.
//
// At the end the console's record is held against the simulator's: the answers it acknowledged
// and the notes they carried must be exactly the answers and notes of the results files.
//
//   soak [--cycles N] [--fault P] [--no-answer P] [--time-scale S] [--baud B] [--seed N]
//        [--wait-limit MS] [--keep DIR]
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "app/headless/app_options.h"
#include "app/headless/headless_app.h"
#include "bench_support.h"
#include "zeda_simulator.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Settings {
    unsigned cycles = 2000;
    double fault = 0.05;
    double noAnswer = -1;  // -1: as --fault
    double timeScale = 0.05;
    unsigned baud = 38400;
    uint32_t seed = 20240;
    long waitLimitMs = 300000;  // longer than any give-up of the link (122 s response wait + resends)
    std::string keep;           // keep the results files here
};

std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::vector<std::string> fields;
        std::string field;
        bool quoted = false;
        for (char c : line) {
            if (c == '"') quoted = !quoted;
            else if (c == ',' && !quoted) fields.push_back(field), field.clear();
            else field += c;
        }
        fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

size_t CountRows(const std::string& path) {
    std::ifstream in(path);
    size_t n = 0;
    std::string line;
    while (std::getline(in, line)) ++n;
    return n > 0 ? n - 1 : 0;
}

// The script: set-up lines, then "set 1030 K / click 1020 / wait run LIMIT" for as long as cycles
// are wanted, then "quit". Lines are made when the script runner asks for them, that is after the
// previous action (the last "wait run") has finished.
class ScriptSource : public std::streambuf {
public:
    ScriptSource(const Settings& s, std::function<size_t()> cyclesSoFar, std::function<void(size_t)> onRun)
        : m_s(s), m_cyclesSoFar(std::move(cyclesSoFar)), m_onRun(std::move(onRun)) {
        m_pending = "tab 1\nclick 1135\ncheck 1026\nset 1028 2\n";
    }

protected:
    int_type underflow() override {
        if (m_pending.empty()) Next();
        if (m_pending.empty()) return traits_type::eof();
        m_line = std::move(m_pending);
        m_pending.clear();
        setg(m_line.data(), m_line.data(), m_line.data() + m_line.size());
        return traits_type::to_int_type(m_line[0]);
    }

private:
    void Next() {
        if (m_done) return;
        const size_t done = m_cyclesSoFar();
        m_onRun(done);
        if (done >= m_s.cycles) {
            m_pending = "quit\n";
            m_done = true;
            return;
        }
        const size_t left = std::min<size_t>(999, m_s.cycles - done);
        m_pending = "set 1030 " + std::to_string(left) + "\nclick 1020\nwait run " + std::to_string(m_s.waitLimitMs) + "\n";
    }

    const Settings& m_s;
    std::function<size_t()> m_cyclesSoFar;
    std::function<void(size_t)> m_onRun;
    std::string m_pending, m_line;
    bool m_done = false;
};

bool ParseArgs(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v) return false;
        if (a == "--cycles") s.cycles = static_cast<unsigned>(std::atoi(v));
        else if (a == "--fault") s.fault = std::atof(v);
        else if (a == "--no-answer") s.noAnswer = std::atof(v);
        else if (a == "--time-scale") s.timeScale = std::atof(v);
        else if (a == "--baud") s.baud = static_cast<unsigned>(std::atoi(v));
        else if (a == "--seed") s.seed = static_cast<uint32_t>(std::atol(v));
        else if (a == "--wait-limit") s.waitLimitMs = std::atol(v);
        else if (a == "--keep") s.keep = v;
        else return false;
        ++i;
    }
    return s.cycles > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    if (!ParseArgs(argc, argv, s)) {
        std::fprintf(stderr,
                     "usage: %s [--cycles N] [--fault P] [--no-answer P] [--time-scale S] [--baud B] [--seed N] "
                     "[--wait-limit MS] [--keep DIR]\n",
                     argv[0]);
        return 2;
    }
    const auto wallStart = Clock::now();
    char dirTemplate[] = "/tmp/kalvor-soak-XXXXXX";
    if (!mkdtemp(dirTemplate)) return 1;
    const std::string dir = s.keep.empty() ? dirTemplate : s.keep;
    if (!s.keep.empty()) std::filesystem::remove(dirTemplate);
    std::filesystem::create_directories(dir);

    int master = -1;
    std::string slave;
    if (!zeda::OpenPtyPair(master, slave)) return 1;
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("KALVOR_COM1", slave.c_str(), 1);

    zeda::SimOptions o;
    o.model = 2000;
    o.baud = s.baud;
    o.pacing = true;
    o.timeScale = s.timeScale;
    o.rejectRate = 0.02;
    o.notesUpper = 1000000;
    o.seed = s.seed;
    zeda::FaultOptions& f = o.faults;
    f.dropAck = f.nakAck = f.noiseAck = f.corruptBcc = f.cutResponse = f.late = f.noise = s.fault;
    f.noAnswer = s.noAnswer >= 0 ? s.noAnswer : s.fault;
    // A few module errors among the cycles (counted by the module's own dispense commands).
    for (unsigned k = 1; k <= 4; ++k) {
        const uint8_t codes[] = {0x41, 0x44, 0x38, 0x51};
        f.errorAt.push_back({k * s.cycles / 5 + 7, codes[k - 1]});
    }
    zeda::Simulator sim(o);
    std::thread serving([&] { sim.Serve(master); });

    // Sessions: one RunHeadless each; a new one only after a hang.
    std::vector<std::string> files;
    size_t cyclesBefore = 0;  // rows of the finished sessions
    long rssStart = kalvor::bench::ResidentKiB(), rssMiddle = -1, rssEnd = -1;
    unsigned runs = 0, hangs = 0, sessions = 0;
    std::map<std::string, unsigned> boxes;
    std::string lastStatus;
    bool finished = false;
    while (!finished) {
        const std::string results = dir + "/results-" + std::to_string(++sessions) + ".csv";
        files.push_back(results);
        kalvor::AppOptions options;
        options.headless = true;
        options.results = results;
        ScriptSource source(
            s, [&] { return cyclesBefore + CountRows(results); },
            [&](size_t done) {
                ++runs;
                if (rssMiddle < 0 && done >= s.cycles / 2) rssMiddle = kalvor::bench::ResidentKiB();
                if (runs % 50 == 0)
                    std::fprintf(stderr, "soak: %zu cycles, %u runs, %.0f s\n", done, runs,
                                 std::chrono::duration<double>(Clock::now() - wallStart).count());
            });
        std::istream script(&source);
        std::ostringstream out, err;
        const int status = kalvor::RunHeadless(options, script, out, err);
        // Boxes the console showed, by caption and text.
        std::istringstream lines(out.str());
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind("BOX ", 0) == 0) ++boxes[line];
        const size_t rows = CountRows(results);
        cyclesBefore += rows;
        if (err.str().find("dispense run is still going") != std::string::npos) {
            ++hangs;
            std::fprintf(stderr, "soak: HANG after %zu cycles: %s", cyclesBefore, err.str().c_str());
        } else if (status == kalvor::kExitScriptError || status == kalvor::kExitBadOptions) {
            std::fprintf(stderr, "soak: the console stopped with status %d: %s\n", status, err.str().c_str());
            break;
        } else {
            lastStatus = std::to_string(status);
            finished = true;
        }
        if (rows == 0 && !finished) break;  // no progress: give up rather than loop
    }
    rssEnd = kalvor::bench::ResidentKiB();
    sim.Stop();
    serving.join();
    ::close(master);
    const zeda::SimCounters c = sim.Counters();

    // The console's record.
    std::map<std::string, unsigned> ended;
    unsigned long dispensed = 0, rejected = 0, answered = 0, cycles = 0;
    for (const std::string& file : files)
        for (const auto& row : ReadCsv(file)) {
            if (row.size() < 14) continue;
            ++cycles;
            ++ended[row[13]];
            if (row[13] == "answered" || row[13] == "module error") {
                ++answered;
                dispensed += std::stoul(row[5]);
                rejected += std::stoul(row[6]);
            }
        }
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();

    std::printf("Soak: %lu dispense cycles in %u runs, %u console session(s), exit status %s\n", cycles, runs, sessions,
                lastStatus.c_str());
    std::printf("  simulator: ZEDA2000 at %u baud, time scale %.3f, reject rate %.2f, faults %.3f each (no answer %.3f), "
                "seed %u\n",
                s.baud, s.timeScale, o.rejectRate, s.fault, f.noAnswer, s.seed);
    std::printf("  faults injected:");
    for (int k = 0; k < zeda::kFaultKinds; ++k)
        std::printf(" %s %llu", zeda::FaultName(static_cast<zeda::FaultKind>(k)),
                    static_cast<unsigned long long>(c.faults[static_cast<size_t>(k)]));
    std::printf("\n  cycles by how they ended (results files):");
    for (const auto& [how, n] : ended) std::printf(" %s %u,", how.c_str(), n);
    std::printf("\n  boxes shown:\n");
    for (const auto& [text, n] : boxes) std::printf("    %5u  %s\n", n, text.c_str());
    std::printf("  module: %llu dispense commands executed, %llu answers sent, %llu acknowledged, %llu abandoned, "
                "%llu notices\n",
                static_cast<unsigned long long>(c.dispenseCycles), static_cast<unsigned long long>(c.responsesSent),
                static_cast<unsigned long long>(c.responsesAcknowledged),
                static_cast<unsigned long long>(c.responsesAbandoned), static_cast<unsigned long long>(c.noticesSent));
    const bool answersMatch = answered == c.responsesAcknowledged;
    const bool notesMatch = dispensed == c.notesDispensed && rejected == c.notesRejected;
    std::printf("  answers acknowledged: console %lu, module %llu: %s\n", answered,
                static_cast<unsigned long long>(c.responsesAcknowledged), answersMatch ? "equal" : "DIFFERENT");
    std::printf("  notes dispensed: console %lu, module %llu; rejected: console %lu, module %llu: %s\n", dispensed,
                static_cast<unsigned long long>(c.notesDispensed), rejected,
                static_cast<unsigned long long>(c.notesRejected), notesMatch ? "equal" : "DIFFERENT");
    std::printf("  hangs (wait run limit of %ld ms hit): %u\n", s.waitLimitMs, hangs);
    std::printf("  resident memory: start %.1f MiB, middle %.1f MiB, end %.1f MiB\n", rssStart / 1024.0,
                rssMiddle / 1024.0, rssEnd / 1024.0);
    std::printf("  wall time %.0f s (%.2f s per cycle)\n", wall, cycles ? wall / static_cast<double>(cycles) : 0.0);
    if (s.keep.empty()) std::filesystem::remove_all(dir);
    else std::printf("  results files kept in %s\n", dir.c_str());
    return answersMatch && notesMatch && hangs == 0 && cycles >= s.cycles ? 0 : 1;
}
