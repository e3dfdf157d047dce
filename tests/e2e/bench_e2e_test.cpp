// A bench of several modules: one headless console per adapter with --port, each with its own
// results file, sharing one profile. And --port itself: the COMn it names, the profile untouched,
// the listing, and the window refused without a display.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "program_rig.h"

using namespace kalvor::e2e;

namespace {

// A folder of its own, holding the shared profile.
struct Bench {
    char dir[32] = "/tmp/kalvor-bench-XXXXXX";
    std::string profile;
    std::string env;
    Bench() {
        if (!mkdtemp(dir)) return;
        profile = std::string(dir) + "/kalvor-tp.ini";
        // A remembered port and a mapping that none of the consoles may use or change.
        std::ofstream(profile) << "; the bench's profile\n[KALVOR]\nPORT=4\n[COMPORTS]\nCOM1=/dev/ttyS0\n";
        env = std::string("XDG_CONFIG_HOME=") + dir;
    }
    std::string File(const std::string& name) const { return std::string(dir) + "/" + name; }
    ~Bench() { std::filesystem::remove_all(dir); }
};

int Rows(const std::string& csv) { return static_cast<int>(std::count(csv.begin(), csv.end(), '\n')) - 1; }

}  // namespace

TEST(Bench, PortOptionStartsOnItsComAndLeavesTheProfileAlone) {
    Bench bench;
    const std::string before = ReadFile(bench.profile);
    SimProcess sim("--no-pacing --time-scale 0", bench.File("sim.err"));
    ASSERT_FALSE(sim.path.empty());
    // "OK" on "SETUP" would remember the port: not under --port.
    const std::string script = "print message\nprint 1006\nprint 1008\ntab 2\nclick 1020\nquit\n";
    const struct {
        std::string port;
        const char* opened;
        const char* radios;
    } cases[] = {
        {sim.path, "1003: Com Port 1 is opened\n", "1006: 1\n1008: 0\n"},
        {"COM3=" + sim.path, "1003: Com Port 3 is opened\n", "1006: 0\n1008: 1\n"},
    };
    for (const auto& c : cases) {
        ConsoleProcess console(bench.env + " KALVOR_COM1=/nonexistent KALVOR_COM3=/nonexistent",
                               "--headless --port " + c.port, script, bench.File("script.txt"));
        EXPECT_EQ(console.Finish(), 0) << c.port << "\n" << console.out;
        EXPECT_EQ(console.out.rfind(std::string(c.opened) + c.radios, 0), 0u) << c.port << "\n" << console.out;
        EXPECT_EQ(ReadFile(bench.profile), before) << c.port;
    }

    // The listing names it as the command line's, a pseudo-terminal, and the port to start on.
    ConsoleProcess list(bench.env, "--list-ports --port COM2=" + sim.path, "", bench.File("script.txt"));
    EXPECT_EQ(list.Finish(), 0);
    EXPECT_NE(list.out.find("  COM1  /dev/ttyS0  (profile " + bench.profile + " [COMPORTS])"), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("  COM2  " + sim.path + "  (--port)  pseudo-terminal " + sim.path + ", free\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("The console starts on COM2 (--port).\n"), std::string::npos) << list.out;

    // The window with no display, or one that cannot be reached: told, and exit 2 instead of an
    // abort in the toolkit.
    for (const char* display : {"-u DISPLAY", "DISPLAY=:97.3"}) {
        ConsoleProcess window("-u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(display) + " " + bench.env,
                              "--port " + sim.path, "", bench.File("script.txt"));
        EXPECT_EQ(window.Finish(), 2) << display << "\n" << window.out;
        EXPECT_NE(window.out.find("use --headless, or run it in a desktop session"), std::string::npos) << window.out;
    }
}

TEST(Bench, TwoConsolesOnTwoModulesKeepToTheirOwnPortsAndFiles) {
    Bench bench;
    const std::string before = ReadFile(bench.profile);
    SimProcess a("--no-pacing --time-scale 0 --seed 1 --model 1000", bench.File("a.err"));
    SimProcess b("--no-pacing --time-scale 0 --seed 2", bench.File("b.err"));
    ASSERT_FALSE(a.path.empty() || b.path.empty());
    auto run = [](int repeat) {
        return "tab 1\ncheck 1026\nset 1028 2\nset 1030 " + std::to_string(repeat) +
               "\nclick 1020\nwait run 20000\ntab 2\nclick 1020\nquit\n";
    };
    // At once, each on its own adapter and COMn, each with its own results file.
    ConsoleProcess first(bench.env, "--headless --port " + a.path + " --results " + bench.File("m1.csv"), run(3),
                         bench.File("m1.script"));
    ConsoleProcess second(bench.env, "--headless --port COM2=" + b.path + " --results " + bench.File("m2.csv"),
                          run(5), bench.File("m2.script"));
    EXPECT_EQ(first.Finish(), 0) << first.out;
    EXPECT_EQ(second.Finish(), 0) << second.out;
    EXPECT_EQ(Rows(ReadFile(bench.File("m1.csv"))), 3);
    EXPECT_EQ(Rows(ReadFile(bench.File("m2.csv"))), 5);
    // Each module saw only its own console's cycles, and the profile is as it was.
    EXPECT_NE(a.Stop().find("dispense cycles 3,"), std::string::npos);
    EXPECT_NE(b.Stop().find("dispense cycles 5,"), std::string::npos);
    EXPECT_EQ(ReadFile(bench.profile), before);
}
