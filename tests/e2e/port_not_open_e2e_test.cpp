// A port that does not exist: the reason on standard error as the Message pane says it, the cycle
// written anyway recorded as "port not open" (never as the module's "no ACK"), and exit 6.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "program_rig.h"

using namespace kalvor::e2e;

TEST(PortNotOpen, ReasonOnStandardErrorRecordAndBenchFailure) {
    const std::string dir = ::testing::TempDir();
    const std::string results = dir + "kalvor-not-open-" + std::to_string(getpid()) + ".csv";
    ConsoleProcess console("", "--headless --port /nonexistent/ttyUSB9 --results " + results,
                           "tab 1\ncheck 1026\nset 1028 1\nset 1030 1\nclick 1020\nwait run 20000\nprint message\nquit\n",
                           results + ".script");
    EXPECT_EQ(console.Finish(), 6) << console.out;
    const std::string reason = "COM1 (/nonexistent/ttyUSB9): No such file or directory";
    EXPECT_NE(console.out.find("kalvor-tp: " + reason + "\n"), std::string::npos) << console.out;
    EXPECT_NE(console.out.find("1003: " + reason), std::string::npos) << "the Message pane says the same";
    EXPECT_NE(console.out.find("0 link give-ups, port not opened, 1 cycle written with no port open (exit 6)"),
              std::string::npos)
        << console.out;
    const std::string csv = ReadFile(results);
    EXPECT_NE(csv.find("\n1,1,E,01,,,,,,,,,,port not open,"), std::string::npos) << csv;
    EXPECT_EQ(csv.find("no ACK"), std::string::npos) << csv;
    ::unlink(results.c_str());
    ::unlink((results + ".script").c_str());
}
