// Soak: thousands of dispense cycles, headless, against the module simulator in this process over
// a pseudo-terminal, with faults of every kind injected. The console is the one of
// `kalvor-tp --headless --results FILE` (RunHeadless); its script comes from a generator that,
// each time a run has ended ("wait run"), looks at the results file and starts the next run, until
// the wanted number of cycles has been written. A "wait run" that hits its limit (a run that never
// ends) counts as a hang; the console is then started again and the soak goes on.
//
// The cycles are shared among several consoles soaking side by side (--parallel, 8 by default),
// each a process of its own with its own simulator: a console spends most of a faulted soak
// waiting out its link's time-outs (122 s for an answer that never comes), so one console alone
// would take hours for 2,000 cycles.
//
// At the end each console's record is held against its simulator's: the answers it acknowledged
// and the notes they carried must be exactly the answers and notes of the results files.
//
//   soak [--cycles N] [--parallel N] [--fault P] [--no-answer P] [--time-scale S] [--baud B] [--seed N]
//        [--wait-limit MS] [--keep DIR]
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
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
    unsigned parallel = 8;      // consoles soaking side by side, the cycles shared among them
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
    bool quoted = false;  // a module error's text keeps its line break inside quotes
    while (std::getline(in, line)) {
        for (char c : line) quoted = quoted != (c == '"');
        if (!quoted) ++n;
    }
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
        else if (a == "--parallel") s.parallel = static_cast<unsigned>(std::atoi(v));
        else if (a == "--keep") s.keep = v;
        else return false;
        ++i;
    }
    return s.cycles > 0 && s.parallel > 0 && s.parallel <= 64 && s.parallel <= s.cycles;
}

// What one console's soak saw, and what its simulator counted.
struct Figures {
    unsigned long cycles = 0, runs = 0, sessions = 0, hangs = 0, stopped = 0;
    unsigned long answered = 0, dispensed = 0, rejected = 0;
    std::array<unsigned long long, zeda::kFaultKinds> faults{};
    unsigned long long dispenseCommands = 0, responsesSent = 0, acknowledged = 0, abandoned = 0, notices = 0;
    unsigned long long simDispensed = 0, simRejected = 0;
    long rssStart = -1, rssMiddle = -1, rssEnd = -1;
    std::string lastStatus;
    std::map<std::string, unsigned long> ended, boxes;

    void Add(const Figures& o) {
        cycles += o.cycles, runs += o.runs, sessions += o.sessions, hangs += o.hangs, stopped += o.stopped;
        answered += o.answered, dispensed += o.dispensed, rejected += o.rejected;
        for (size_t k = 0; k < faults.size(); ++k) faults[k] += o.faults[k];
        dispenseCommands += o.dispenseCommands, responsesSent += o.responsesSent, acknowledged += o.acknowledged;
        abandoned += o.abandoned, notices += o.notices, simDispensed += o.simDispensed, simRejected += o.simRejected;
        for (const auto& [k, n] : o.ended) ended[k] += n;
        for (const auto& [k, n] : o.boxes) boxes[k] += n;
        if (lastStatus.empty() || o.lastStatus != "0") lastStatus = o.lastStatus;
    }
    bool AnswersMatch() const { return answered == acknowledged; }
    bool NotesMatch() const { return dispensed == simDispensed && rejected == simRejected; }

    // One "name value" line each; maps as "name<TAB>count<TAB>text" (texts hold no tab or newline).
    void Write(std::ostream& out) const {
        out << "cycles " << cycles << "\nruns " << runs << "\nsessions " << sessions << "\nhangs " << hangs
            << "\nstopped " << stopped << "\nanswered " << answered << "\ndispensed " << dispensed << "\nrejected "
            << rejected << "\ndispenseCommands " << dispenseCommands << "\nresponsesSent " << responsesSent
            << "\nacknowledged " << acknowledged << "\nabandoned " << abandoned << "\nnotices " << notices
            << "\nsimDispensed " << simDispensed << "\nsimRejected " << simRejected << "\nrssStart " << rssStart
            << "\nrssMiddle " << rssMiddle << "\nrssEnd " << rssEnd << "\nstatus " << lastStatus << "\n";
        for (size_t k = 0; k < faults.size(); ++k) out << "fault" << k << ' ' << faults[k] << '\n';
        for (const auto& [k, n] : ended) out << "ended\t" << n << '\t' << k << '\n';
        for (const auto& [k, n] : boxes) out << "box\t" << n << '\t' << k << '\n';
    }
    bool Read(std::istream& in) {
        std::string line;
        bool any = false;
        while (std::getline(in, line)) {
            any = true;
            if (line.rfind("ended\t", 0) == 0 || line.rfind("box\t", 0) == 0) {
                const size_t a = line.find('\t'), b = line.find('\t', a + 1);
                if (b == std::string::npos) continue;
                auto& map = line[0] == 'e' ? ended : boxes;
                map[line.substr(b + 1)] += std::stoul(line.substr(a + 1, b - a - 1));
                continue;
            }
            std::istringstream fields(line);
            std::string name;
            fields >> name;
            if (name.rfind("fault", 0) == 0 && name.size() > 5) {
                const size_t k = std::stoul(name.substr(5));
                if (k < faults.size()) fields >> faults[k];
            }
            const std::map<std::string, unsigned long*> counts = {
                {"cycles", &cycles}, {"runs", &runs}, {"sessions", &sessions}, {"hangs", &hangs},
                {"stopped", &stopped}, {"answered", &answered}, {"dispensed", &dispensed}, {"rejected", &rejected}};
            const std::map<std::string, unsigned long long*> simCounts = {
                {"dispenseCommands", &dispenseCommands}, {"responsesSent", &responsesSent},
                {"acknowledged", &acknowledged}, {"abandoned", &abandoned}, {"notices", &notices},
                {"simDispensed", &simDispensed}, {"simRejected", &simRejected}};
            if (auto it = counts.find(name); it != counts.end()) fields >> *it->second;
            else if (auto it2 = simCounts.find(name); it2 != simCounts.end()) fields >> *it2->second;
            else if (name == "rssStart") fields >> rssStart;
            else if (name == "rssMiddle") fields >> rssMiddle;
            else if (name == "rssEnd") fields >> rssEnd;
            else if (name == "status") fields >> lastStatus;
        }
        return any;
    }
};

// One console against one simulator on its own pseudo-terminal, for s.cycles cycles.
Figures RunSoak(const Settings& s, const std::string& dir, unsigned index) {
    Figures fig;
    int master = -1;
    std::string slave;
    if (!zeda::OpenPtyPair(master, slave)) {
        fig.stopped = 1;
        return fig;
    }
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
    fig.rssStart = kalvor::bench::ResidentKiB();
    bool finished = false;
    while (!finished) {
        const std::string results = dir + "/results-" + std::to_string(++fig.sessions) + ".csv";
        files.push_back(results);
        kalvor::AppOptions options;
        options.headless = true;
        options.results = results;
        ScriptSource source(
            s, [&] { return cyclesBefore + CountRows(results); },
            [&](size_t done) {
                ++fig.runs;
                if (fig.rssMiddle < 0 && done >= s.cycles / 2) fig.rssMiddle = kalvor::bench::ResidentKiB();
                if (fig.runs % 50 == 0)
                    std::fprintf(stderr, "soak %u: %zu cycles, %lu runs\n", index, done, fig.runs);
            });
        std::istream script(&source);
        std::ostringstream out, err;
        const int status = kalvor::RunHeadless(options, script, out, err);
        // Boxes the console showed, by caption and text.
        std::istringstream lines(out.str());
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind("BOX ", 0) == 0) ++fig.boxes["BOX " + line.substr(line.find("] ") + 2)];  // without the time
        const size_t rows = CountRows(results);
        cyclesBefore += rows;
        if (err.str().find("dispense run is still going") != std::string::npos) {
            ++fig.hangs;
            std::fprintf(stderr, "soak %u: HANG after %zu cycles: %s", index, cyclesBefore, err.str().c_str());
        } else if (status == kalvor::kExitScriptError || status == kalvor::kExitBadOptions) {
            std::fprintf(stderr, "soak %u: the console stopped with status %d: %s\n", index, status,
                         err.str().c_str());
            ++fig.stopped;
            break;
        } else {
            fig.lastStatus = std::to_string(status);
            finished = true;
        }
        if (rows == 0 && !finished) {  // no progress: give up rather than loop
            ++fig.stopped;
            break;
        }
    }
    fig.rssEnd = kalvor::bench::ResidentKiB();
    sim.Stop();
    serving.join();
    ::close(master);
    const zeda::SimCounters c = sim.Counters();
    for (size_t k = 0; k < fig.faults.size(); ++k) fig.faults[k] = c.faults[k];
    fig.dispenseCommands = c.dispenseCycles, fig.responsesSent = c.responsesSent;
    fig.acknowledged = c.responsesAcknowledged, fig.abandoned = c.responsesAbandoned, fig.notices = c.noticesSent;
    fig.simDispensed = c.notesDispensed, fig.simRejected = c.notesRejected;

    // The console's record.
    for (const std::string& file : files)
        for (const auto& row : ReadCsv(file)) {
            if (row.size() < 14) continue;
            ++fig.cycles;
            ++fig.ended[row[13]];
            if (row[13] == "answered" || row[13] == "module error") {
                ++fig.answered;
                fig.dispensed += std::stoul(row[5]);
                fig.rejected += std::stoul(row[6]);
            }
        }
    return fig;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    if (!ParseArgs(argc, argv, s)) {
        std::fprintf(stderr,
                     "usage: %s [--cycles N] [--parallel N] [--fault P] [--no-answer P] [--time-scale S] [--baud B] "
                     "[--seed N] [--wait-limit MS] [--keep DIR]\n",
                     argv[0]);
        return 2;
    }
    const auto wallStart = Clock::now();
    char dirTemplate[] = "/tmp/kalvor-soak-XXXXXX";
    if (!mkdtemp(dirTemplate)) return 1;
    const std::string dir = s.keep.empty() ? dirTemplate : s.keep;
    if (!s.keep.empty()) std::filesystem::remove(dirTemplate);
    std::filesystem::create_directories(dir);

    // Each console waits out its link's time-outs on its own, so the cycles are shared among
    // several consoles, each a process of its own with its own simulator, pseudo-terminal, profile
    // folder and seed. Forked before any thread is started.
    std::vector<Figures> parts(s.parallel);
    std::vector<pid_t> children;
    for (unsigned i = 0; i < s.parallel; ++i) {
        Settings mine = s;
        mine.cycles = s.cycles / s.parallel + (i < s.cycles % s.parallel ? 1 : 0);
        mine.seed = s.seed + i;
        const std::string partDir = dir + "/console-" + std::to_string(i + 1);
        std::filesystem::create_directories(partDir);
        if (s.parallel == 1) {
            parts[0] = RunSoak(mine, partDir, 1);
            break;
        }
        const pid_t pid = ::fork();
        if (pid < 0) return 1;
        if (pid == 0) {
            const Figures fig = RunSoak(mine, partDir, i + 1);
            std::ofstream out(partDir + "/figures.txt");
            fig.Write(out);
            out.close();
            std::fflush(nullptr);
            ::_exit(out ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
    for (unsigned i = 0; i < children.size(); ++i) {
        std::ifstream in(dir + "/console-" + std::to_string(i + 1) + "/figures.txt");
        if (!parts[i].Read(in)) parts[i].stopped = 1;  // the console's process died
    }
    Figures all;
    for (const Figures& p : parts) all.Add(p);
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();

    const double noAnswer = s.noAnswer >= 0 ? s.noAnswer : s.fault;
    std::printf("Soak: %lu dispense cycles in %lu runs on %u console(s), %lu session(s), last exit status %s\n",
                all.cycles, all.runs, s.parallel, all.sessions, all.lastStatus.c_str());
    std::printf("  simulator: ZEDA2000 at %u baud, time scale %.3f, reject rate 0.02, faults %.3f each (no answer "
                "%.3f), seeds %u..%u\n",
                s.baud, s.timeScale, s.fault, noAnswer, s.seed, s.seed + s.parallel - 1);
    std::printf("  faults injected:");
    for (int k = 0; k < zeda::kFaultKinds; ++k)
        std::printf(" %s %llu", zeda::FaultName(static_cast<zeda::FaultKind>(k)), all.faults[static_cast<size_t>(k)]);
    std::printf("\n  cycles by how they ended (results files):");
    for (const auto& [how, n] : all.ended) std::printf(" %s %lu,", how.c_str(), n);
    std::printf("\n  boxes shown:\n");
    for (const auto& [text, n] : all.boxes) std::printf("    %5lu  %s\n", n, text.c_str());
    std::printf("  module: %llu dispense commands executed, %llu answers sent, %llu acknowledged, %llu abandoned, "
                "%llu notices\n",
                all.dispenseCommands, all.responsesSent, all.acknowledged, all.abandoned, all.notices);
    bool allMatch = true;
    for (unsigned i = 0; i < parts.size(); ++i)
        if (!parts[i].AnswersMatch() || !parts[i].NotesMatch()) {
            allMatch = false;
            std::printf("  console %u: its record and its simulator's DIFFER\n", i + 1);
        }
    std::printf("  answers acknowledged: console %lu, module %llu: %s\n", all.answered, all.acknowledged,
                all.AnswersMatch() ? "equal" : "DIFFERENT");
    std::printf("  notes dispensed: console %lu, module %llu; rejected: console %lu, module %llu: %s\n", all.dispensed,
                all.simDispensed, all.rejected, all.simRejected, all.NotesMatch() ? "equal" : "DIFFERENT");
    std::printf("  hangs (wait run limit of %ld ms hit): %lu; consoles stopped early: %lu\n", s.waitLimitMs, all.hangs,
                all.stopped);
    std::printf("  resident memory per console (start / middle / end, MiB):");
    for (const Figures& p : parts)
        std::printf(" %.1f/%.1f/%.1f", p.rssStart / 1024.0, p.rssMiddle / 1024.0, p.rssEnd / 1024.0);
    std::printf("\n  wall time %.0f s (%.2f s per cycle, %.2f s per cycle per console)\n", wall,
                all.cycles ? wall / static_cast<double>(all.cycles) : 0.0,
                all.cycles ? wall * s.parallel / static_cast<double>(all.cycles) : 0.0);
    if (s.keep.empty()) std::filesystem::remove_all(dir);
    else std::printf("  results files kept in %s\n", dir.c_str());
    return allMatch && all.hangs == 0 && all.stopped == 0 && all.cycles >= s.cycles ? 0 : 1;
}
