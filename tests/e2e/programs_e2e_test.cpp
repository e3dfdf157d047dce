// The two programs as a technician runs them: zeda-sim on a pseudo-terminal it creates, and
// kalvor-tp --headless pointed at it through KALVOR_COM1.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

struct Simulator {
    pid_t pid = -1;
    FILE* out = nullptr;
    std::string path;

    explicit Simulator(const std::string& args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            const std::string cmd = std::string("exec ") + KALVOR_BIN_DIR + "/zeda-sim " + args + " 2>/dev/null";
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        out = fdopen(fds[0], "r");
        char line[256] = {};
        if (out && fgets(line, sizeof line, out)) {
            path = line;
            while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
        }
    }
    ~Simulator() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int st = 0;
            waitpid(pid, &st, 0);
        }
        if (out) fclose(out);
    }
};

struct ProgramRun {
    int status = -1;
    std::string out;
};

// Runs kalvor-tp with `args` and `script` on standard input, in a fresh profile folder.
ProgramRun Console(const std::string& env, const std::string& args, const std::string& script) {
    char dir[] = "/tmp/kalvor-prog-XXXXXX";
    if (!mkdtemp(dir)) return {};
    const std::string scriptPath = std::string(dir) + "/script.txt";
    std::ofstream(scriptPath) << script;
    const std::string cmd = "cd " + std::string(dir) + " && env XDG_CONFIG_HOME=" + dir + " " + env + " " +
                            KALVOR_BIN_DIR + "/kalvor-tp --headless " + args + " --script " + scriptPath;
    ProgramRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    const std::string rm = std::string("rm -rf ") + dir;
    if (system(rm.c_str()) != 0) {
    }
    return r;
}

}  // namespace

TEST(Programs, HeadlessConsoleAgainstZedaSimAndASecondConsoleIsRefused) {
    Simulator sim("--no-pacing --seed 5");
    ASSERT_FALSE(sim.path.empty()) << "zeda-sim printed no device path";
    const std::string env = "KALVOR_COM1=" + sim.path;

    // The first console keeps the port for a while; the second one starts meanwhile.
    std::string firstOut;
    int firstStatus = -1;
    {
        FILE* first = nullptr;
        char dir[] = "/tmp/kalvor-first-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        const std::string cmd = "env XDG_CONFIG_HOME=" + std::string(dir) + " " + env + " " + KALVOR_BIN_DIR +
                                "/kalvor-tp --headless --trace";
        first = popen((cmd + " <<'EOF'\nprint message\nclick 1050\nwait idle 5000\nprint status\nwait 1500\nquit\nEOF\n").c_str(), "r");
        ASSERT_NE(first, nullptr);
        usleep(500 * 1000);
        ProgramRun second = Console(env, "", "print message\nquit\n");
        EXPECT_EQ(second.status, 0);
        EXPECT_NE(second.out.find("BOX Error: Can't open comport. init\n"), std::string::npos) << second.out;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, first)) > 0) firstOut.append(buf, n);
        const int st = pclose(first);
        firstStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        const std::string rm = std::string("rm -rf ") + dir;
        if (system(rm.c_str()) != 0) {
        }
    }
    EXPECT_EQ(firstStatus, 0);
    EXPECT_NE(firstOut.find("1003: Com Port 1 is opened\n"), std::string::npos) << firstOut;
    EXPECT_NE(firstOut.find("] TX 04 50 02 46 03 13\n"), std::string::npos) << firstOut;
    EXPECT_NE(firstOut.find("1004: STATUS ERR : "), std::string::npos) << firstOut;
}

TEST(Programs, RememberedPortAndBadOptions) {
    Simulator sim("--no-pacing");
    ASSERT_FALSE(sim.path.empty());
    // PORT=3 in the profile with KALVOR_COM3 opens that one.
    char dir[] = "/tmp/kalvor-port-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::ofstream(std::string(dir) + "/kalvor-tp.ini") << "[KALVOR]\nPORT=3\n";
    const std::string cmd = "printf 'print message\\nprint 1008\\nquit\\n' | env XDG_CONFIG_HOME=" + std::string(dir) +
                            " KALVOR_COM3=" + sim.path + " " + KALVOR_BIN_DIR + "/kalvor-tp --headless";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[1024];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(out, "1003: Com Port 3 is opened\n1008: 1\n");
    const std::string rm = std::string("rm -rf ") + dir;
    EXPECT_EQ(system(rm.c_str()), 0);

    ProgramRun bad = Console("", "--no-such-option", "");
    EXPECT_EQ(bad.status, 2);
    ProgramRun scriptError = Console("", "", "print message\nclick 1054\n");  // 1054 is on the hidden TP page
    EXPECT_EQ(scriptError.status, 1);
}
