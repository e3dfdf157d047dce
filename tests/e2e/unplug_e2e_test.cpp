// A USB adapter pulled out in the middle of a run and plugged in again: the console's reader ends
// at once without spinning, the operator is told, and "OK" on "SETUP" opens the device again
// when its path comes back.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>

#include "app/headless/headless_host.h"
#include "app/headless/script_runner.h"
#include "console/console_dlg.h"
#include "e2e_rig.h"
#include "zeda_simulator.h"

using namespace kalvor;

namespace {

int64_t CpuMicros() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

// The adapter: a pseudo-terminal (non-blocking master) that Close() pulls out.
struct Pty {
    int master = -1;
    std::string path;
    Pty() { zeda::OpenPtyPair(master, path); }
    void Close() {
        if (master >= 0) close(std::exchange(master, -1));
    }
    ~Pty() { Close(); }
};

}  // namespace

TEST(Unplug, ReaderEndsOperatorIsToldAndOkReopensTheReturningPath) {
    char dir[] = "/tmp/kalvor-unplug-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string link = std::string(dir) + "/ttyUSB0";  // a stable name, as under /dev/serial/by-id
    auto plug = [&](const Pty& p) {
        unlink(link.c_str());
        return symlink(p.path.c_str(), link.c_str()) == 0;
    };
    auto first = std::make_unique<Pty>();
    ASSERT_FALSE(first->path.empty());
    ASSERT_TRUE(plug(*first));
    ::setenv("KALVOR_COM1", link.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir, 1);

    std::ostringstream out, err;
    HeadlessHost host(out);
    IniProfile profile(std::string(dir) + "/kalvor-tp.ini");
    CConsoleDlg dlg(host, profile, std::make_unique<CComm>());
    host.Attach(&dlg);
    dlg.OnInitDialog();
    ScriptRunner runner(dlg, host, out, err);
    auto run = [&](const std::string& line) {
        bool quit = false;
        return runner.RunLine(line, 1, quit);
    };
    ASSERT_TRUE(dlg.PortOpen());
    ASSERT_EQ(CComm::RunningReaders(), 1);

    // A status request is outstanding when the adapter goes.
    ASSERT_TRUE(run("click 1050"));
    const auto pulled = std::chrono::steady_clock::now();
    first->Close();
    while (CComm::RunningReaders() > 0 &&
           std::chrono::steady_clock::now() - pulled < std::chrono::seconds(2))
        host.RunFor(1);
    const auto ended = std::chrono::steady_clock::now() - pulled;
    EXPECT_EQ(CComm::RunningReaders(), 0);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended).count(), 100);
    host.RunFor(50);
    EXPECT_NE(e2e::Untimed(out.str()).find("BOX comm Error!: Communication port lost\n"), std::string::npos) << out.str();
    EXPECT_FALSE(dlg.PortOpen());

    // Nothing spins while the device is gone: the process stays idle (the link's own timers
    // still run out, which costs next to nothing).
    const int64_t cpuBefore = CpuMicros();
    host.RunFor(500);
    EXPECT_LT(CpuMicros() - cpuBefore, 100000) << "CPU time while the device is gone";

    // The adapter comes back under the same name: "OK" on "SETUP" opens it.
    Pty second;
    ASSERT_TRUE(plug(second));
    ASSERT_TRUE(run("tab 2"));
    ASSERT_TRUE(run("click 1020"));
    EXPECT_TRUE(dlg.PortOpen()) << out.str();
    EXPECT_EQ(CComm::RunningReaders(), 1);
    EXPECT_EQ(profile.GetString("KALVOR", "PORT"), "1");

    // And it carries bytes: once the unanswered request has given up (its resends went to the
    // new device), a new STATUS frame goes out on it.
    ASSERT_TRUE(run("tab 0"));
    host.RunUntil([&] { return dlg.IsIdle(); }, 9000);
    uint8_t buf[64] = {};
    while (read(second.master, buf, sizeof buf) > 0) {
    }
    ASSERT_TRUE(run("click 1050"));
    ssize_t n = 0;
    for (int i = 0; i < 200 && n <= 0; ++i) {
        n = read(second.master, buf, sizeof buf);
        if (n <= 0) usleep(5000);
    }
    ASSERT_EQ(n, 6);
    EXPECT_EQ(buf[3], 'F');

    dlg.OnClose();
    host.Shutdown();
    std::filesystem::remove_all(dir);
}
