// The zeda-sim command line and the program itself.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "sim_rig.h"
#include "zeda_cli.h"

namespace zeda::test {
namespace {

const std::string kProgram = std::string(KALVOR_BIN_DIR) + "/zeda-sim";

TEST(SimProgram, OptionsAreParsedValidatedAndAllDocumented) {
    const std::vector<std::string> args = {
        "--device", "/dev/ttyS9", "--model=1000", "--baud", "4800", "--parity=e", "--notes-upper", "15",
        "--notes-lower=16", "--no-upper", "--no-lower", "--near-end=3", "--reject-rate=0.25", "--max-rejects=4",
        "--mech-ms=11", "--per-note-ms=12", "--process-ms=13", "--time-scale=0.5", "--no-pacing",
        "--seed=0x10", "--ack-wait-ms=700", "--frame-gap-ms=90", "--average=lower",
        "--rvdt-average-upper=0x1F0", "--rvdt-average-lower=300", "--dip=0x81", "--rom-version=AB12",
        "--drop-ack=0.1", "--nak-ack=0.2", "--noise-ack=0.3", "--corrupt-bcc=0.4", "--cut-response=0.5",
        "--late=0.6", "--late-ms=250", "--no-answer=0.7", "--noise=0.8", "--error-at=3:38",
        "--error-at", "5:0x4a", "--verbose"};
    CliConfig cfg;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(args, cfg, error)) << error;
    const SimOptions& o = cfg.options;
    EXPECT_EQ(cfg.device, "/dev/ttyS9");
    EXPECT_EQ(o.model, 1000);
    EXPECT_EQ(o.parity, 'E');
    EXPECT_FALSE(o.upperPresent || o.lowerPresent || o.pacing);
    EXPECT_EQ(o.seed, 16u);
    EXPECT_EQ(o.averageCassette, 1);
    EXPECT_EQ(o.rvdtAverageLower, 300u);
    EXPECT_DOUBLE_EQ(o.faults.noise, 0.8);
    ASSERT_EQ(o.faults.errorAt.size(), 2u);
    EXPECT_EQ(o.faults.errorAt[0].code, 0x38);
    EXPECT_EQ(o.faults.errorAt[1].cycle, 5u);
    EXPECT_EQ(o.faults.errorAt[1].code, 0x4A);

    const std::string usage = UsageText("zeda-sim");
    for (const std::string& a : args) {
        if (a.rfind("--", 0) == 0) {
            EXPECT_NE(usage.find(a.substr(0, a.find('='))), std::string::npos) << a;
        }
    }

    for (const char* bad : {"--model=3000", "--parity=X", "--reject-rate=1.5", "--drop-ack=-0.1",
                                   "--seed", "--error-at=0:38", "--error-at=2:03", "--error-at=2:1FF",
                                   "--frobnicate", "--no-pacing=1", "--rom-version=TOOLONG"}) {
        CliConfig c;
        EXPECT_FALSE(ParseCommandLine({bad}, c, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

int ExitCode(const std::string& args) {
    const int status = std::system((kProgram + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SimProgram, PrintsThePtyPathServesItAndReportsItsCountersOnSigterm) {
    EXPECT_EQ(ExitCode("--help"), 0);
    EXPECT_EQ(ExitCode("--version"), 0);
    EXPECT_EQ(ExitCode("--model=5"), 2);
    EXPECT_EQ(ExitCode("--device=/nonexistent/tty"), 1);

    const std::string errFile = testing::TempDir() + "zeda-sim-test.err";
    // The shell prints its own pid and becomes the simulator.
    FILE* out = popen(("exec 2>" + errFile + "; echo $$; exec " + kProgram + " --no-pacing --time-scale=0 --model=1000").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, out), nullptr);
    const pid_t pid = static_cast<pid_t>(std::stol(line));
    ASSERT_NE(fgets(line, sizeof line, out), nullptr);
    const std::string path = std::string(line).substr(0, std::string(line).find('\n'));
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
    uint8_t b;
    while (got.size() < 15 && ::read(fd, &b, 1) == 1) got.push_back(b);
    ASSERT_EQ(got.size(), 15u);
    EXPECT_EQ(got[0], 0x06);
    EXPECT_EQ(Bytes(got.begin() + 5, got.begin() + 9), Text("1.07"));
    ::close(fd);

    kill(pid, SIGTERM);
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ostringstream err;
    err << std::ifstream(errFile).rdbuf();
    EXPECT_NE(err.str().find("commands executed 1"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("ZEDA1000: upper 2000 notes"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace zeda::test
