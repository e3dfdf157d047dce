// The headless script over a whole session: checked before anything is opened, fed slowly on
// standard input without holding up the link, a script error that hides no finding, and a signal
// that comes twice.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstring>
#include <filesystem>

#include "app/headless/signal_watch.h"
#include "e2e_rig.h"
#include "program_rig.h"

using namespace kalvor;
using namespace kalvor::e2e;

namespace {

const char* const kGoodStart = "tab 1; check 1026; set 1028 1; click 1020; wait run 20000; ";

// kalvor-tp --headless --simulate ARGS in `dir`, standard error to dir/err.txt; returns its pid
// and the write end of its standard input.
pid_t StartConsole(const std::string& dir, const std::string& args, int& input) {
    int in[2];
    if (pipe(in) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[1]);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        const std::string cmd = "cd " + dir + " && exec " KALVOR_BIN_DIR "/kalvor-tp --headless --simulate " + args +
                                " >/dev/null 2>err.txt";
        execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    input = in[1];
    return pid;
}

void Feed(int fd, const std::string& text) { ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size())); }

int ExitOf(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(10 * 1000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The values of column `name` in a CSV results file, a row each.
std::vector<std::string> Column(const std::string& path, const std::string& name) {
    std::istringstream in(ReadFile(path));
    std::vector<std::string> values;
    int at = -1;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
        if (at < 0) at = int(std::find(cells.begin(), cells.end(), name) - cells.begin());
        else if (at < int(cells.size())) values.push_back(cells[at]);
    }
    return values;
}

}  // namespace

TEST(ScriptSession, ABadScriptStopsBeforeAnythingIsOpenedOrSent) {
    const std::string longWord(200, 'x');
    struct Case {
        std::string script;
        std::string error;  // after "script error: burn.txt:"; empty for a script that runs
    } cases[] = {
        {std::string(kGoodStart) + "clik 1020", "6: unknown command 'clik'"},
        {std::string(kGoodStart) + "click", "6: a control id or name is missing"},
        {std::string(kGoodStart) + "click DISPENS", "6: no control named \"DISPENS\" on any page"},
        {std::string(kGoodStart) + "click Set", "6: no control named \"Set\" on any page"},  // calibration only
        {std::string(kGoodStart) + "tab 4", "6: no tab 4"},
        {std::string(kGoodStart) + "tab Setup", "6: no tab named \"Setup\""},
        {std::string(kGoodStart) + "wait run 2147483648", "6: wait run needs milliseconds from 0 to 2147483647"},
        {std::string(kGoodStart) + "set \"Repeat Count 5", "6: a quote is not closed"},
        {std::string(kGoodStart) + "print nothing", "6: no control named \"nothing\" on any page"},
        {"tab 1; " + longWord, "2: unknown command '" + std::string(80, 'x') + "...'"},
        {"\xEF\xBB\xBF" + std::string(kGoodStart) + "print \"Repeat Count\"; quit", ""},  // a BOM is no error
    };
    char dir[] = "/tmp/kalvor-check-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script.substr(c.script.size() > 40 ? c.script.size() - 40 : 0));
        AppOptions options;
        options.script = "burn.txt";  // the stream is given; the name is what errors say
        options.results = std::string(dir) + "/r.csv";
        std::filesystem::remove(options.results);
        const Outcome r = RunConsole(FastModule(), c.script, options);
        if (c.error.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find("1030: 1\n"), std::string::npos) << r.out;
            continue;
        }
        EXPECT_EQ(r.status, kExitScriptError);
        EXPECT_EQ(r.err.find("kalvor-tp: script error: burn.txt:" + c.error), 0u) << r.err;
        EXPECT_LT(r.err.size(), 250u);
        EXPECT_EQ(r.counters.bytesReceived, 0u) << "sent before the script was checked";
        EXPECT_FALSE(std::filesystem::exists(options.results)) << "an output opened";
    }
    std::filesystem::remove_all(dir);
}

// A run-time script error (a control disabled for the model) after a module error: the module's
// finding decides the status, and the closing line names both.
TEST(ScriptSession, AScriptErrorHidesNoModuleError) {
    zeda::SimOptions module = FastModule();
    module.faults.errorAt.push_back({1, 0x41});
    const Outcome r = RunConsole(module, std::string(kGoodStart) + "check 1027; quit");
    EXPECT_EQ(r.status, kExitModuleError) << r.err;
    EXPECT_NE(r.err.find("script error: standard input:6: control 1027 is disabled"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 module error (41), 0 link give-ups, script error (exit 3)"), std::string::npos) << r.err;
}

// Lines that come slowly on a pipe: the console is served while the script waits, so the record's
// times are the module's, not the feeder's; the second line comes two seconds after the click.
TEST(ScriptSession, ASlowFeederHoldsNothingUp) {
    char dir[] = "/tmp/kalvor-feed-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    int input = -1;
    const pid_t pid = StartConsole(dir, "--results r.csv", input);
    ASSERT_GT(pid, 0);
    Feed(input, "tab 1\ncheck 1026\nset 1028 1\nclick 1020\n");
    sleep(2);
    Feed(input, "wait run\nquit\n");
    close(input);
    EXPECT_EQ(ExitOf(pid), 0) << ReadFile(std::string(dir) + "/err.txt");
    // 2000 and more in one or the other when the click waited for the next line.
    const std::vector<std::string> ack = Column(std::string(dir) + "/r.csv", "write_to_ack_ms"),
                                   answer = Column(std::string(dir) + "/r.csv", "write_to_answer_ms");
    ASSERT_EQ(ack.size(), 1u) << ReadFile(std::string(dir) + "/r.csv");
    EXPECT_LT(std::stod(ack[0]), 500.0);
    EXPECT_LT(std::stod(answer.at(0)), 1500.0);
    std::filesystem::remove_all(dir);
}

// coreutils `timeout` signals the console, then its process group: SIGTERM twice within
// microseconds (or a few seconds) is one request, and the session still ends with its record and closing line.
TEST(ScriptSession, TwoSignalsAtOnceAreOneRequest) {
    char dir[] = "/tmp/kalvor-twice-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    int input = -1;
    const pid_t pid = StartConsole(dir, "--results r.csv", input);
    ASSERT_GT(pid, 0);
    // One cycle of 40 notes: some five seconds in flight.
    Feed(input, "tab 1\ncheck 1026\nset 1028 40\nclick 1020\nwait run\n");
    usleep(1500 * 1000);
    // Two at once may merge into one while the first is pending: more follow while the session ends.
    for (int i = 0; i < 40; ++i, usleep(500)) kill(pid, SIGTERM);
    EXPECT_EQ(ExitOf(pid), 143);
    close(input);
    const std::string err = ReadFile(std::string(dir) + "/err.txt");
    EXPECT_NE(err.find("interrupted by SIGTERM (exit 143)\n"), std::string::npos) << err;
    EXPECT_EQ(Column(std::string(dir) + "/r.csv", "ended"), std::vector<std::string>{"interrupted"});
    std::filesystem::remove_all(dir);
}

// The watcher itself: a second signal 20 ms after the first is the same request, not a kill.
TEST(ScriptSession, TheWatcherTakesARepeatedSignalAsTheSameRequest) {
    const pid_t pid = fork();
    if (pid == 0) {
        int calls = 0;
        {
            SignalWatch watch([&](int) { ++calls; });
            for (int i = 0; i < 3; ++i, usleep(20 * 1000)) kill(getpid(), SIGTERM);
            if (watch.Caught() != SIGTERM) _exit(2);
        }
        _exit(calls == 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
