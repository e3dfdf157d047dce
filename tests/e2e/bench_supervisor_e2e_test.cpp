// kalvor-tp --bench against simulated modules: faults on some modules never reach the others,
// a port that appears late is opened, one that never does counts as not opened, a signal ends
// every module as a single session ends, and the exit status is taken over all modules.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "program_rig.h"

using namespace kalvor::e2e;

namespace {

struct SimSpec {
    std::string name;
    std::string faults;    // zeda-sim options beside the fast ones
    int startAfterMs = 0;  // -1: never
};

struct BenchCase {
    const char* what;
    std::vector<SimSpec> modules;
    std::string script;
    std::string options;                        // more options of --bench
    int termAfterMs;                            // SIGTERM to the supervisor then; 0: none
    int exitStatus;
    std::vector<std::string> closing;           // "NAME: ...(exit N)" on standard error, each module's
    std::vector<std::string> lastEnded;         // NAME=ended of its last record, "" without a file
};

std::string Script(int repeat) {
    return "tab 1\ncheck UPPER\nset \"Upper Request Count\" 2\nset \"Repeat Count\" " + std::to_string(repeat) +
           "\nclick DISPENSE\nwait run 600000\nquit\n";
}

// The `ended` field of the last row of a results file, or "" when there is none.
std::string LastEnded(const std::string& csv) {
    const auto rows = ReadCsv(csv);
    if (rows.size() < 2) return "";
    const auto column = std::find(rows[0].begin(), rows[0].end(), "ended") - rows[0].begin();
    return static_cast<size_t>(column) < rows.back().size() ? rows.back()[column] : "";
}

const BenchCase kCases[] = {
    {"a module error on one module and cut answers on another: 5, the third untouched",
     {{"good", ""}, {"error", "--error-at=2:41"}, {"cut", "--cut-response=1"}},
     Script(3), "", 0, 5,
     {"good: 3 cycles, 0 module errors, 0 link give-ups (exit 0)",
      "error: 2 cycles, 1 module error (41), 0 link give-ups (exit 3)",
      "cut: 1 cycle, 0 module errors, 1 link give-up (exit 4)"},
     {"good=answered", "error=module error", "cut=bad frames"}},
    {"a port that appears late is opened; one that never does is not opened: 6",
     {{"good", ""}, {"late", "", 1500}, {"never", "", -1}},
     Script(2), "--port-wait 3", 0, 6,
     {"good: 2 cycles, 0 module errors, 0 link give-ups (exit 0)",
      "late: 2 cycles, 0 module errors, 0 link give-ups (exit 0)",
      "never: NEVER did not appear within 3 s: port not opened (exit 6)"},
     {"good=answered", "late=answered", "never="}},
    {"SIGTERM mid-bench: every cycle in flight is interrupted, the report is written, 143",
     {{"one", "--no-answer=1"}, {"two", "--no-answer=1"}, {"absent", "", -1}},
     Script(5), "", 2500, 143,
     {"one: 1 cycle, 0 module errors, 0 link give-ups, interrupted by SIGTERM (exit 143)",
      "two: 1 cycle, 0 module errors, 0 link give-ups, interrupted by SIGTERM (exit 143)",
      "absent: NEVER had not appeared: not started, interrupted by SIGTERM (exit 143)"},
     {"one=interrupted", "two=interrupted", "absent="}},
};

}  // namespace

TEST(BenchSupervisor, ModulesAreIsolatedAndTheBenchEndsAsOneSession) {
    for (const BenchCase& c : kCases) {
        SCOPED_TRACE(c.what);
        char dirTemplate[] = "/tmp/kalvor-bench-sup-XXXXXX";
        ASSERT_TRUE(mkdtemp(dirTemplate));
        const std::string dir = dirTemplate, out = dir + "/out";
        std::string benchFile;
        for (const SimSpec& m : c.modules) benchFile += m.name + " " + dir + "/" + m.name + "  # a module\n";
        std::ofstream(dir + "/bench.txt") << "# the bench\n" << benchFile;
        std::ofstream(dir + "/script.txt") << c.script;

        auto startSim = [&](const SimSpec& m) {
            return std::make_unique<SimProcess>("--no-pacing --time-scale 0 --reject-rate 0 --link " + dir + "/" +
                                                    m.name + " " + m.faults,
                                                dir + "/" + m.name + ".sim.err");
        };
        std::vector<std::unique_ptr<SimProcess>> sims;
        for (const SimSpec& m : c.modules)
            if (m.startAfterMs == 0) sims.push_back(startSim(m));

        const pid_t bench = fork();
        if (bench == 0) {
            const int log = open((dir + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, 2);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            const std::string cmd = "exec " KALVOR_BIN_DIR "/kalvor-tp --bench " + dir + "/bench.txt --script " + dir +
                                    "/script.txt --out " + out + " " + c.options;
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto started = std::chrono::steady_clock::now();
        auto sleepUntil = [&](int ms) { std::this_thread::sleep_until(started + std::chrono::milliseconds(ms)); };
        for (const SimSpec& m : c.modules)
            if (m.startAfterMs > 0) {
                sleepUntil(m.startAfterMs);
                sims.push_back(startSim(m));
            }
        if (c.termAfterMs > 0) {
            sleepUntil(c.termAfterMs);
            kill(bench, SIGTERM);
        }
        int status = 0;
        waitpid(bench, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        const std::string err = ReadFile(dir + "/stderr.txt"), log = ReadFile(out + "/bench.log");
        EXPECT_EQ(WEXITSTATUS(status), c.exitStatus) << err;
        for (std::string line : c.closing) {
            if (const size_t at = line.find("NEVER"); at != std::string::npos)
                line.replace(at, 5, dir + "/" + line.substr(0, line.find(':')));
            EXPECT_NE(err.find("\n" + line + "\n"), std::string::npos) << line << "\n" << err;
            EXPECT_NE(log.find(line + "\n"), std::string::npos) << line << "\n" << log;
        }
        for (const std::string& ended : c.lastEnded) {
            const std::string name = ended.substr(0, ended.find('='));
            EXPECT_EQ(name + "=" + LastEnded(out + "/" + name + ".csv"), ended);
            EXPECT_EQ(std::filesystem::exists(out + "/" + name + ".trace"), ended.size() > name.size() + 1) << name;
        }
        // The report over the modules that wrote records, each under its own name.
        const std::string report = ReadFile(out + "/report.html");
        for (const SimSpec& m : c.modules)
            if (m.startAfterMs >= 0) {
                EXPECT_NE(report.find(m.name), std::string::npos) << m.name;
            }
        sims.clear();
        std::filesystem::remove_all(dir);
    }
}
