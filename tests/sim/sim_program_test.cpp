// The zeda-sim command line and the program itself.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "sim_rig.h"
#include "zeda_cli.h"

extern char** environ;

namespace zeda::test {
namespace {

bool Parse(const std::vector<std::string>& args, CliConfig& cfg, std::string& error) {
    cfg = CliConfig{};
    return ParseCommandLine(args, cfg, error);
}

TEST(SimProgram, EveryOptionIsParsedAndDocumented) {
    CliConfig cfg;
    std::string error;
    const std::vector<std::string> args = {
        "--device", "/dev/ttyS9", "--model=1000", "--baud", "4800", "--parity=e", "--notes-upper", "15",
        "--notes-lower=16", "--no-upper", "--no-lower", "--near-end=3", "--reject-rate=0.25", "--max-rejects=4",
        "--mech-ms=11", "--per-note-ms=12", "--process-ms=13", "--time-scale=0.5", "--no-pacing",
        "--seed=0x10", "--ack-wait-ms=700", "--frame-gap-ms=90", "--average=lower",
        "--rvdt-average-upper=0x1F0", "--rvdt-average-lower=300", "--dip=0x81", "--rom-version=AB12",
        "--drop-ack=0.1", "--nak-ack=0.2", "--noise-ack=0.3", "--corrupt-bcc=0.4", "--cut-response=0.5",
        "--late=0.6", "--late-ms=250", "--no-answer=0.7", "--noise=0.8", "--error-at=3:38",
        "--error-at", "5:0x4a", "--verbose"};
    ASSERT_TRUE(Parse(args, cfg, error)) << error;
    const SimOptions& o = cfg.options;
    EXPECT_EQ(cfg.device, "/dev/ttyS9");
    EXPECT_EQ(o.model, 1000);
    EXPECT_EQ(o.baud, 4800u);
    EXPECT_EQ(o.parity, 'E');
    EXPECT_EQ(o.notesUpper, 15u);
    EXPECT_EQ(o.notesLower, 16u);
    EXPECT_FALSE(o.upperPresent);
    EXPECT_FALSE(o.lowerPresent);
    EXPECT_EQ(o.nearEnd, 3u);
    EXPECT_DOUBLE_EQ(o.rejectRate, 0.25);
    EXPECT_EQ(o.maxRejects, 4u);
    EXPECT_EQ(o.mechMs + o.perNoteMs + o.processMs, 36u);
    EXPECT_DOUBLE_EQ(o.timeScale, 0.5);
    EXPECT_FALSE(o.pacing);
    EXPECT_EQ(o.seed, 16u);
    EXPECT_EQ(o.ackWaitMs, 700u);
    EXPECT_EQ(o.frameGapMs, 90u);
    EXPECT_EQ(o.averageCassette, 1);
    EXPECT_EQ(o.rvdtAverageUpper, 0x1F0u);
    EXPECT_EQ(o.rvdtAverageLower, 300u);
    EXPECT_EQ(o.dipSwitches, 0x81u);
    EXPECT_EQ(o.romVersion, "AB12");
    EXPECT_DOUBLE_EQ(o.faults.dropAck + o.faults.nakAck + o.faults.noiseAck + o.faults.corruptBcc, 1.0);
    EXPECT_DOUBLE_EQ(o.faults.cutResponse + o.faults.late + o.faults.noAnswer + o.faults.noise, 2.6);
    EXPECT_EQ(o.faults.lateMs, 250u);
    ASSERT_EQ(o.faults.errorAt.size(), 2u);
    EXPECT_EQ(o.faults.errorAt[0].cycle, 3u);
    EXPECT_EQ(o.faults.errorAt[0].code, 0x38);
    EXPECT_EQ(o.faults.errorAt[1].code, 0x4A);
    EXPECT_TRUE(cfg.verbose);

    const std::string usage = UsageText("zeda-sim");
    for (const std::string& a : args) {
        if (a.rfind("--", 0) != 0) continue;
        const std::string name = a.substr(0, a.find('='));
        EXPECT_NE(usage.find(name), std::string::npos) << name << " is not in --help";
    }
    for (const char* name : {"--help", "--version"}) EXPECT_NE(usage.find(name), std::string::npos);
}

TEST(SimProgram, BadArgumentsAreRefusedWithAReason) {
    CliConfig cfg;
    std::string error;
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--model=3000"}, {"--parity=X"}, {"--reject-rate=1.5"}, {"--drop-ack=-0.1"}, {"--seed"},
             {"--error-at=0:38"}, {"--error-at=2:03"}, {"--error-at=2"}, {"--error-at=2:1FF"},
             {"--baud=abc"}, {"--frobnicate"}, {"--no-pacing=1"}, {"--rom-version=TOOLONG"}}) {
        EXPECT_FALSE(Parse(bad, cfg, error)) << bad[0];
        EXPECT_FALSE(error.empty()) << bad[0];
    }
    EXPECT_TRUE(Parse({"--model=1000", "--help"}, cfg, error));
    EXPECT_TRUE(cfg.help);
}

// Runs the program with stdout and stderr on pipes.
struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Child Start(const std::vector<std::string>& args) {
    const std::string path = std::string(KALVOR_BIN_DIR) + "/zeda-sim";
    int outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&fa, outPipe[0]);
    posix_spawn_file_actions_addclose(&fa, errPipe[0]);
    std::vector<std::string> all = {path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child c;
    EXPECT_EQ(posix_spawn(&c.pid, path.c_str(), &fa, nullptr, argv.data(), environ), 0) << path;
    posix_spawn_file_actions_destroy(&fa);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    c.out = outPipe[0];
    c.err = errPipe[0];
    return c;
}

std::string ReadLine(int fd) {
    std::string s;
    char ch;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        if (::read(fd, &ch, 1) != 1 || ch == '\n') break;
        s += ch;
    }
    return s;
}

std::string ReadAll(int fd) {
    std::string s;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

int Wait(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -2;
}

TEST(SimProgram, PrintsThePtyPathServesItAndReportsOnSigterm) {
    Child c = Start({"--no-pacing", "--time-scale=0", "--model=1000"});
    const std::string path = ReadLine(c.out);
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const Bytes cmd = Command('G');
    ASSERT_EQ(::write(fd, cmd.data(), cmd.size()), static_cast<ssize_t>(cmd.size()));
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < 15 && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        uint8_t buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    ASSERT_EQ(got.size(), 15u);
    EXPECT_EQ(got[0], 0x06);
    const Bytes frame(got.begin() + 1, got.end());
    EXPECT_TRUE(WellFormedResponse(frame));
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.begin() + 8), Text("1.07"));
    const uint8_t ack = 0x06;
    ASSERT_EQ(::write(fd, &ack, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::close(fd);

    kill(c.pid, SIGTERM);
    EXPECT_EQ(Wait(c.pid), 0);
    const std::string err = ReadAll(c.err);
    EXPECT_NE(err.find("commands executed 1"), std::string::npos) << err;
    EXPECT_NE(err.find("ZEDA1000"), std::string::npos) << err;
    ::close(c.out);
    ::close(c.err);
}

TEST(SimProgram, HelpVersionAndBadOptionsExitAtOnce) {
    Child help = Start({"--help"});
    EXPECT_EQ(Wait(help.pid), 0);
    EXPECT_NE(ReadAll(help.out).find("--error-at=CYCLE:CODE"), std::string::npos);
    Child version = Start({"--version"});
    EXPECT_EQ(Wait(version.pid), 0);
    EXPECT_NE(ReadAll(version.out).find("zeda-sim"), std::string::npos);
    Child bad = Start({"--model=5"});
    EXPECT_EQ(Wait(bad.pid), 2);
    EXPECT_NE(ReadAll(bad.err).find("--model"), std::string::npos);
    Child device = Start({"--device=/nonexistent/tty"});
    EXPECT_EQ(Wait(device.pid), 1);
    for (Child* c : {&help, &version, &bad, &device}) {
        ::close(c->out);
        ::close(c->err);
    }
}

}  // namespace
}  // namespace zeda::test
