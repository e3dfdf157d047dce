#include "bench/supervisor.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/headless/script_runner.h"
#include "bench/bench_file.h"
#include "bench/child_process.h"
#include "bench/live_display.h"
#include "bench/module_status.h"
#include "burnin/exit_status.h"
#include "report/report_command.h"

namespace kalvor::bench {

namespace {

volatile sig_atomic_t g_lastSignal = 0;
volatile sig_atomic_t g_signalCount = 0;

void OnSignal(int sig) {
    g_lastSignal = sig;
    g_signalCount = g_signalCount + 1;
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const char* SignalName(int sig) {
    return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : sig == SIGHUP ? "SIGHUP" : "a signal";
}

std::string DefaultOutFolder() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "bench-%Y%m%d-%H%M%S", &local);
    return name;
}

// Makes the output folder; the complaint, or empty. An existing folder must be empty.
std::string MakeOutFolder(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(dir, ec)) {
        if (!fs::is_directory(dir, ec)) return "--out " + dir + ": is not a folder";
        if (!fs::is_empty(dir, ec)) return "--out " + dir + ": the folder is not empty (give a new or empty one)";
        return {};
    }
    if (!fs::create_directories(dir, ec)) return "--out " + dir + ": cannot be made: " + ec.message();
    return {};
}

bool PathPresent(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// One module of the bench as the supervisor runs it.
struct Module {
    BenchModule entry;
    ModuleStatus status;
    std::unique_ptr<ChildProcess> child;
    std::string errBuffer, eventsBuffer;
    std::string closing;        // the session's closing line, without "kalvor-tp: "
    int exitStatus = -1;        // as a single session's; -1 while it runs or waits
    int64_t waitingSinceMs = 0;
    bool finished() const { return exitStatus >= 0; }
};

class Supervisor {
public:
    Supervisor(const BenchOptions& o, std::vector<BenchModule> entries, std::string out)
        : m_o(o), m_out(std::move(out)), m_entries(std::move(entries)), m_display(m_entries, o.display) {}

    int Run();

private:
    std::vector<std::string> ChildArgs(const Module& m) const;
    void StartOrWait(Module& m, int64_t now);
    void ReadChild(Module& m, int fd);
    void Finish(Module& m);
    void EndUnstarted(Module& m, const std::string& why, int status);
    void Log(const std::string& name, const std::string& text);
    std::vector<ModuleStatus> Statuses() const;
    void WriteReport();

    const BenchOptions& m_o;
    std::string m_out;
    std::vector<BenchModule> m_entries;
    std::vector<Module> m_modules;
    LiveDisplay m_display;
    std::ofstream m_log;
    std::string m_program;
    unsigned m_burnPlanned = 0;
    int m_signal = 0;          // the first signal that ended the bench
    int m_passedSignals = 0;   // how many of the signals caught were passed on
};

std::vector<std::string> Supervisor::ChildArgs(const Module& m) const {
    const BenchModule& b = m.entry;
    std::vector<std::string> a = {"kalvor-tp", "--headless", "--script", m_o.script, "--port", "COM1=" + b.path,
                                  "--module", b.name};
    if (!b.baud.empty()) a.insert(a.end(), {"--baud", b.baud});
    if (!b.parity.empty()) a.insert(a.end(), {"--parity", b.parity});
    if (!b.model.empty()) a.insert(a.end(), {"--model", b.model});
    a.insert(a.end(), {"--results", m_out + "/" + b.name + (m_o.jsonl ? ".jsonl" : ".csv"),
                       "--trace=" + m_out + "/" + b.name + ".trace", "--port-wait", std::to_string(m_o.portWaitS),
                       "--quiet", "--events-fd", std::to_string(ChildProcess::kEventsFd)});
    return a;
}

void Supervisor::Log(const std::string& name, const std::string& text) {
    m_log << name << ": " << text << "\n";
    m_log.flush();
}

std::vector<ModuleStatus> Supervisor::Statuses() const {
    std::vector<ModuleStatus> s;
    for (const Module& m : m_modules) s.push_back(m.status);
    return s;
}

void Supervisor::EndUnstarted(Module& m, const std::string& why, int status) {
    m.exitStatus = status;
    m.status.state = ModuleState::Failed;
    m.closing = why + " (exit " + std::to_string(status) + ")";
    Log(m.entry.name, m.closing);
    m_display.Plain(m.entry.name, m.closing);
}

void Supervisor::StartOrWait(Module& m, int64_t now) {
    if (!PathPresent(m.entry.path)) {
        if (now - m.waitingSinceMs >= static_cast<int64_t>(m_o.portWaitS) * 1000)
            EndUnstarted(m, m.entry.path + " did not appear within " + std::to_string(m_o.portWaitS) +
                                " s: port not opened", kExitBenchFailed);
        return;
    }
    m.child = std::make_unique<ChildProcess>();
    std::string why;
    if (!m.child->Start(m_program, ChildArgs(m), why)) {
        m.child.reset();
        EndUnstarted(m, why, kExitBenchFailed);
        return;
    }
    m.status.state = ModuleState::Running;
    Log(m.entry.name, "started on " + m.entry.path + " (pid " + std::to_string(m.child->Pid()) + ")");
    m_display.Plain(m.entry.name, "running on " + m.entry.path);
}

void Supervisor::ReadChild(Module& m, int fd) {
    const bool events = fd == m.child->EventsFd();
    std::string& buffer = events ? m.eventsBuffer : m.errBuffer;
    const bool open = m.child->Drain(fd, buffer);
    if (!open && !buffer.empty() && buffer.back() != '\n') buffer += '\n';  // a last line without its end
    for (std::string& line : TakeLines(buffer)) {
        if (events) {
            ApplyEvent(line, m_burnPlanned, m.status);
            if (!m.status.progressLine.empty()) m_display.Progress(m.entry.name, m.status.progressLine);
            continue;
        }
        if (line.rfind("kalvor-tp: ", 0) == 0) line.erase(0, 11);
        if (line.empty()) continue;
        // The session's closing line is logged once it has ended, with the status the bench gives it.
        if (line.find(" (exit ") != std::string::npos) m.closing = line;
        else Log(m.entry.name, line);
    }
}

// The child has ended and its pipes are read to their end: its status as a single session's.
void Supervisor::Finish(Module& m) {
    const int ws = m.child->WaitStatus();
    int status = kExitBenchFailed;
    std::string closing = m.closing;  // the session's own closing line, if it wrote one
    if (const size_t at = closing.rfind(" (exit "); at != std::string::npos) closing.resize(at);
    if (WIFEXITED(ws)) {
        const int code = WEXITSTATUS(ws);
        status = code;
        // A session that refused its start (2) or was ended by a signal the bench did not pass on
        // proves nothing about its module: the bench failed there.
        if (code == kExitBadOptions || (code > 128 && (m_signal == 0 || code != 128 + m_signal))) status = kExitBenchFailed;
        if (closing.empty()) closing = "the console ended without its closing line, exit " + std::to_string(code);
    } else if (WIFSIGNALED(ws)) {
        const int sig = WTERMSIG(ws);
        // A second signal ends a session at once; any other end by a signal is a crash.
        status = m_signal != 0 && sig == m_signal ? 128 + sig : kExitBenchFailed;
        closing = std::string("the console ended by signal ") + std::to_string(sig) + " (" + strsignal(sig) +
                  ") after " + std::to_string(m.status.cycles) + " cycles";
    }
    m.closing = closing + " (exit " + std::to_string(status) + ")";
    m.exitStatus = status;
    m.status.state = status == kExitOk ? ModuleState::Done : ModuleState::Failed;
    Log(m.entry.name, m.closing);
    m_display.Plain(m.entry.name, std::string(StateName(m.status.state)) + ": " + m.closing);
    m.child.reset();
}

void Supervisor::WriteReport() {
    report::ReportOptions r;
    r.output = m_out + "/report.html";
    r.limits = m_o.limits;
    for (const Module& m : m_modules) {
        const std::string file = m_out + "/" + m.entry.name + (m_o.jsonl ? ".jsonl" : ".csv");
        if (PathPresent(file)) r.inputs.push_back(file);
    }
    if (r.inputs.empty()) {
        m_display.Say(STDERR_FILENO, "kalvor-tp: no module wrote records: no report");
        Log("bench", "no module wrote records: no report");
        return;
    }
    std::ostringstream verdicts, complaints;
    const int rc = report::RunReport(r, verdicts, complaints);
    std::istringstream lines(verdicts.str());
    for (std::string line; std::getline(lines, line);) Log("report", line);
    std::istringstream bad(complaints.str());
    for (std::string line; std::getline(bad, line);) {
        Log("report", line);
        m_display.Say(STDERR_FILENO, line);
    }
    if (rc != report::kReportBadInput && m_o.display != Display::Quiet)
        m_display.Say(STDERR_FILENO, "kalvor-tp: report " + r.output);
}

int Supervisor::Run() {
    m_log.open(m_out + "/bench.log", std::ios::app);
    if (!m_log) {
        std::cerr << "kalvor-tp: cannot write " << m_out << "/bench.log\n";
        return kExitBadOptions;
    }
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    m_program = n > 0 ? std::string(self, static_cast<size_t>(n)) : "/proc/self/exe";
    m_burnPlanned = m_o.burnPlanned;

    // The termination signals are blocked everywhere but inside the one wait below, so one that
    // comes between a check and the wait is not lost; SIGPIPE (a closed terminal) does not end us.
    sigset_t termination, outside;
    sigemptyset(&termination);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&termination, sig);
    sigprocmask(SIG_BLOCK, &termination, &outside);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&outside, sig);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const int64_t start = NowMs();
    for (const BenchModule& b : m_entries) {
        Module m;
        m.entry = b;
        m.waitingSinceMs = start;
        m.status.planned = m_burnPlanned;
        m_modules.push_back(std::move(m));
    }
    for (Module& m : m_modules) {
        Log(m.entry.name, m.entry.path + (PathPresent(m.entry.path) ? "" : ": waiting for it to appear"));
        if (!PathPresent(m.entry.path)) m_display.Plain(m.entry.name, "waiting for " + m.entry.path);
    }

    std::vector<pollfd> fds;
    std::vector<Module*> owners;
    int64_t lastSweepMs = start;
    for (;;) {
        const int64_t now = NowMs();
        // Signals: each one caught is passed on once to every session's group.
        for (; m_passedSignals < g_signalCount; ++m_passedSignals) {
            const int sig = g_lastSignal;
            if (m_signal == 0) m_signal = sig;
            Log("bench", std::string("interrupted by ") + SignalName(sig));
            for (Module& m : m_modules) {
                if (m.child) m.child->Signal(sig);
                else if (!m.finished())
                    EndUnstarted(m, m.entry.path + " had not appeared: not started, interrupted by " +
                                        std::string(SignalName(sig)), 128 + m_signal);
            }
        }
        bool waiting = false, reaping = false, running = false;
        const bool sweep = now - lastSweepMs >= 1000;
        if (sweep) lastSweepMs = now;
        for (Module& m : m_modules) {
            if (m.finished()) continue;
            if (!m.child) StartOrWait(m, now);
            if (m.finished()) continue;
            if (!m.child) {
                waiting = true;
                continue;
            }
            // A session that ends closes its pipes; the others are asked once a second (one that
            // lost its pipes some other way is still found).
            if ((m.child->PipesClosed() || sweep) && m.child->Reap()) {
                // Whatever it wrote before it ended is read before its status is taken.
                ReadChild(m, m.child->ErrFd());
                ReadChild(m, m.child->EventsFd());
                Finish(m);
                continue;
            }
            running = true;
            reaping = reaping || m.child->PipesClosed();  // its pipes are closed: it is ending
        }
        if (m_display.Due(now)) m_display.Update(Statuses(), now);
        if (!waiting && !running) break;

        fds.clear();
        owners.clear();
        for (Module& m : m_modules)
            if (m.child)
                for (int fd : {m.child->ErrFd(), m.child->EventsFd()})
                    if (fd >= 0) {
                        fds.push_back({fd, POLLIN, 0});
                        owners.push_back(&m);
                    }
        // Waiting ports are looked for four times a second; the table is drawn twice a second.
        const long waitMs = reaping ? 10 : waiting ? 250 : m_display.Table() ? 500 : 1000;
        const timespec timeout{waitMs / 1000, (waitMs % 1000) * 1000000L};
        const int ready = ::ppoll(fds.data(), fds.size(), &timeout, &outside);
        if (ready < 0 && errno != EINTR) {
            Log("bench", std::string("ppoll: ") + std::strerror(errno));
            break;
        }
        for (size_t i = 0; ready > 0 && i < fds.size(); ++i)
            if (fds[i].revents != 0 && owners[i]->child) ReadChild(*owners[i], fds[i].fd);
    }
    m_display.Finish(Statuses(), NowMs());

    WriteReport();
    std::vector<int> statuses;
    for (const Module& m : m_modules) {
        m_display.Say(STDERR_FILENO, m.entry.name + ": " + m.closing);
        statuses.push_back(m.exitStatus);
    }
    const int status = CombineExitStatus(statuses, m_signal);
    Log("bench", "exit " + std::to_string(status));
    sigprocmask(SIG_SETMASK, &outside, nullptr);
    return status;
}

}  // namespace

int CombineExitStatus(const std::vector<int>& statuses, int benchSignal) {
    if (benchSignal > 0) return 128 + benchSignal;
    bool failed = false, module = false, link = false, script = false;
    for (const int s : statuses) {
        failed = failed || s == kExitBenchFailed || s == kExitBadOptions || s > 128 || s < 0;
        module = module || s == kExitModuleError || s == kExitBoth;
        link = link || s == kExitLinkGiveUp || s == kExitBoth;
        script = script || s == kExitScriptError;
    }
    if (failed) return kExitBenchFailed;
    if (module || link) return module && link ? kExitBoth : module ? kExitModuleError : kExitLinkGiveUp;
    return script ? kExitScriptError : kExitOk;
}

int BenchMain(int argc, char** argv) {
    BenchOptions o;
    if (std::string bad = ParseBenchOptions(argc, argv, o); !bad.empty()) {
        std::cerr << "kalvor-tp: " << bad << "\nTry 'kalvor-tp --help'.\n";
        return kExitBadOptions;
    }
    // Everything that can be wrong before a port is touched: the bench file, the script, the folder.
    std::vector<BenchModule> modules;
    if (std::string bad = ReadBenchFile(o.benchFile, modules); !bad.empty()) {
        std::cerr << "kalvor-tp: " << bad << "\n";
        return kExitBadOptions;
    }
    const std::string problem = ScriptFileProblem(o.script);
    if (!problem.empty() || !std::ifstream(o.script)) {
        std::cerr << "kalvor-tp: cannot read the script " << o.script << ": "
                  << (problem.empty() ? "cannot be opened" : problem) << "\n";
        return kExitBadOptions;
    }
    // The whole script is checked once here, so that a typo stops the bench before any module
    // starts (each session checks it again, and finds it sound).
    std::vector<ScriptLine> script;
    std::ifstream scriptIn(o.script);
    if (!LoadScript(scriptIn, o.script, AllScriptNames(false), script, std::cerr)) return kExitScriptError;
    o.burnPlanned = BurnCycles(script);
    const std::string out = o.out.empty() ? DefaultOutFolder() : o.out;
    if (std::string bad = MakeOutFolder(out); !bad.empty()) {
        std::cerr << "kalvor-tp: " << bad << "\n";
        return kExitBadOptions;
    }
    return Supervisor(o, std::move(modules), out).Run();
}

}  // namespace kalvor::bench
