// The two programs as a technician runs them: zeda-sim on a pseudo-terminal it creates, and
// kalvor-tp --headless pointed at it through KALVOR_COM1.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "burnin/exit_status.h"
#include "e2e_rig.h"
#include "program_rig.h"

using kalvor::e2e::ConsoleProcess;
using kalvor::e2e::SimProcess;

TEST(Programs, HeadlessConsoleAgainstZedaSimAndASecondConsoleIsRefused) {
    SimProcess sim("--no-pacing --seed 5", "/dev/null");
    ASSERT_FALSE(sim.path.empty()) << "zeda-sim printed no device path";
    char dir[] = "/tmp/kalvor-prog-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string env = std::string("XDG_CONFIG_HOME=") + dir + " KALVOR_COM1=" + sim.path;
    // The first console keeps the port for a while; the second one starts meanwhile.
    ConsoleProcess first(env, "--headless --trace", "print message\nclick 1050\nwait idle 5000\nprint status\nwait 1500\nquit\n",
                         std::string(dir) + "/first.txt");
    usleep(500 * 1000);
    ConsoleProcess second(env, "--headless --script " + std::string(dir) + "/second.txt", "print message\nquit\n",
                          std::string(dir) + "/second.txt");
    EXPECT_EQ(second.Finish(), kalvor::kExitBenchFailed);  // the port could not be opened: the run proves nothing
    EXPECT_NE(kalvor::e2e::Untimed(second.out).find("BOX Error: Can't open comport. init\n"), std::string::npos) << second.out;
    EXPECT_EQ(first.Finish(), 0);
    EXPECT_NE(first.out.find("1003: Com Port 1 is opened\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("] TX 04 50 02 46 03 13\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("1004: STATUS ERR : "), std::string::npos) << first.out;
    // The window with no display, or one that cannot be reached: told, and exit 2 instead of an
    // abort in the toolkit.
    for (const char* display : {"-u DISPLAY", "DISPLAY=:97.3"}) {
        ConsoleProcess window("-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(display) + " " + env, "", "",
                              std::string(dir) + "/window.txt");
        EXPECT_EQ(window.Finish(), 2) << display << "\n" << window.out;
        EXPECT_NE(window.out.find("use --headless, or run it in a desktop session"), std::string::npos) << window.out;
    }
    std::filesystem::remove_all(dir);
}

// A signal in the middle of a run ends the session as "Cancel" then "quit" would: the run's
// records and summary are written, and the exit status is 128 + the signal. The script is read
// from a pipe left open, so the console may be waiting for its next line or inside "wait run".
TEST(Programs, SignalMidRunEndsTheSessionWithItsRecords) {
    struct Case {
        int signal;
        const char* script;
    };
    const Case cases[] = {
        {SIGTERM, "tab 1\ncheck 1026\nset 1028 2\nset 1030 200\nclick 1020\nwait run\nquit\n"},
        {SIGINT, "tab 1\ncheck 1026\nset 1028 2\nset 1030 200\nclick 1020\n"},  // then waits for a line
        {SIGHUP, "tab 1\ncheck 1026\nset 1028 2\nset 1030 200\nclick 1020\nwait 100000\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal);
        char dir[] = "/tmp/kalvor-signal-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        const std::string results = std::string(dir) + "/r.csv", errFile = std::string(dir) + "/err.txt";
        int in[2];
        ASSERT_EQ(pipe(in), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            close(in[1]);
            const int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(e, 2);
            const int n = open("/dev/null", O_WRONLY);
            dup2(n, 1);
            setenv("XDG_CONFIG_HOME", dir, 1);
            const std::string program = std::string(KALVOR_BIN_DIR) + "/kalvor-tp";
            execl(program.c_str(), "kalvor-tp", "--headless", "--simulate", "--results", results.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        ASSERT_EQ(write(in[1], c.script, strlen(c.script)), static_cast<ssize_t>(strlen(c.script)));
        usleep(1500 * 1000);
        kill(pid, c.signal);
        int status = 0;
        for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(10 * 1000);
        close(in[1]);
        ASSERT_TRUE(WIFEXITED(status)) << "still running or killed";
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal);

        std::ifstream errIn(errFile);
        const std::string err((std::istreambuf_iterator<char>(errIn)), std::istreambuf_iterator<char>());
        EXPECT_NE(err.find("interrupted by SIG"), std::string::npos) << err;
        const size_t summary = err.find("kalvor-tp: RUN 1: cycles ");
        ASSERT_NE(summary, std::string::npos) << err;
        const int cycles = std::atoi(err.c_str() + summary + 25);
        std::ifstream rows(results);
        int n = -1;  // the header
        std::string last;
        for (std::string line; std::getline(rows, line);) ++n, last = line;
        EXPECT_GT(n, 0);
        EXPECT_EQ(n, cycles) << err;
        EXPECT_TRUE(last.find(",answered,") != std::string::npos || last.find(",interrupted,") != std::string::npos)
            << last;
        std::filesystem::remove_all(dir);
    }
}
