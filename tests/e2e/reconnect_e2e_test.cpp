// Reconnect: the watcher on its own (a stable name that goes and comes back, a device that comes
// back but cannot be opened yet), then the headless console against zeda-sim --link, whose link
// goes and comes back as a by-id name does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"
#include "e2e_rig.h"
#include "program_rig.h"

using namespace kalvor;

namespace {

int64_t CpuMicros() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

int64_t Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

}  // namespace

TEST(Reconnect, WatcherReopensWhenTheNameComesBackAndNeverSpins) {
    char dir[] = "/tmp/kalvor-watch-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    // As under /dev/serial/by-id: the folder itself goes with the last adapter.
    const std::string folder = std::string(dir) + "/by-id";
    const std::string name = folder + "/usb-Example-if00-port0";
    const std::string device = std::string(dir) + "/ttyUSB0";  // stands in for the device node

    std::ostringstream out;
    HeadlessHost host(out);
    std::atomic<int> tries{0};
    bool opens = true;
    int reopenedPort = 0;
    PortWatcher* self = nullptr;
    PortWatcher watcher(host.Sink(), [&](int port) {
        ++tries;
        if (!opens) return false;
        reopenedPort = port;
        self->OnPortOpened({}, port, name);  // as the console tells its observers
        return true;
    });
    self = &watcher;

    watcher.OnPortLost({}, 3, name);
    EXPECT_EQ(watcher.Watching(), name);
    host.RunFor(300);
    EXPECT_EQ(tries, 0) << "nothing there yet";

    // The folder and the name come back, but the name leads nowhere yet: still nothing.
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink(device.c_str(), name.c_str()), 0);
    host.RunFor(300);
    EXPECT_EQ(tries, 0) << "a link whose device is not there";

    // The device node, then its name, as udev makes them: reopened at once (inotify, not the
    // half-second look), on this thread, for the lost port.
    ASSERT_EQ(unlink(name.c_str()), 0);
    close(open(device.c_str(), O_CREAT | O_WRONLY, 0600));
    host.RunFor(100);
    EXPECT_EQ(tries, 0);
    const auto appeared = std::chrono::steady_clock::now();
    ASSERT_EQ(symlink(device.c_str(), name.c_str()), 0);
    EXPECT_TRUE(host.RunUntil([&] { return tries > 0; }, 2000));
    EXPECT_LT(Ms(std::chrono::steady_clock::now() - appeared), 400);
    EXPECT_EQ(reopenedPort, 3);
    EXPECT_EQ(watcher.Watching(), "");
    host.RunFor(600);
    EXPECT_EQ(tries, 1) << "nothing more once it is open";

    // Lost again; this time the device is there but cannot be opened: tried twice a second at
    // most, and the process stays idle meanwhile.
    opens = false;
    tries = 0;
    watcher.OnPortLost({}, 3, name);
    const int64_t cpuBefore = CpuMicros();
    host.RunFor(2100);
    EXPECT_GE(tries, 3);
    EXPECT_LE(tries, 5);
    EXPECT_LT(CpuMicros() - cpuBefore, 100000) << "CPU time while waiting";

    // "OK" on "SETUP" opened a port meanwhile: the watching ends.
    watcher.OnPortOpened({}, 1, "/dev/ttyS0");
    const int before = tries;
    host.RunFor(700);
    EXPECT_EQ(tries, before);

    host.Shutdown();
    watcher.Stop();
    std::filesystem::remove_all(dir);
}

TEST(Reconnect, HeadlessConsoleOpensTheNameAgainWhenTheModuleReturnsAndTheRunStaysEnded) {
    char dir[] = "/tmp/kalvor-relink-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string link = std::string(dir) + "/usb-zeda-if00-port0";  // as a by-id name
    auto first = std::make_unique<e2e::SimProcess>("--no-pacing --time-scale 0 --link " + link,
                                                   std::string(dir) + "/first.err");
    ASSERT_FALSE(first->path.empty());
    // A long run that the pull ends; after the return, a STATUS on the new line.
    const std::string script =
        "tab 1\ncheck 1026\nset 1028 1\nset 1030 50\nclick 1020\nwait 1500\nwait 4000\nprint message\n"
        "print 1032\ntab 0\nclick 1050\nwait idle 5000\nprint status\nquit\n";
    e2e::ConsoleProcess console(std::string("XDG_CONFIG_HOME=") + dir,
                                "--headless --port " + link + " --results " + dir + "/run.csv", script,
                                std::string(dir) + "/script.txt");
    usleep(1000 * 1000);
    first->Stop();  // the adapter is pulled: its name goes, then the line
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed at exit";
    usleep(1000 * 1000);
    e2e::SimProcess second("--no-pacing --time-scale 0 --link " + link, std::string(dir) + "/second.err");
    ASSERT_FALSE(second.path.empty());

    EXPECT_EQ(console.Finish(), 6) << "a lost port fails the bench even when it comes back\n" << console.out;
    const std::string& out = console.out;
    EXPECT_NE(e2e::Untimed(out).find("BOX comm Error!: Communication port lost\n"), std::string::npos) << out;
    EXPECT_NE(out.find("1003: Com Port 1 is opened"), std::string::npos) << out;
    EXPECT_NE(out.find("\\r\\nCom Port 1 is opened\n"), std::string::npos) << "the reopening, on a line of its own\n"
                                                                           << out;
    EXPECT_NE(out.find("1004: STATUS ERR : "), std::string::npos) << "answered on the returned line\n" << out;
    // The run the pull ended stays ended: the cycles recorded are those executed before the
    // pull, and the module that came back was asked for no dispense at all.
    const std::string csv = e2e::ReadFile(std::string(dir) + "/run.csv");
    const int rows = static_cast<int>(std::count(csv.begin(), csv.end(), '\n')) - 1;
    EXPECT_GE(rows, 1);
    EXPECT_NE(out.find("1032: " + std::to_string(rows) + "\n"), std::string::npos) << out << csv;
    EXPECT_NE(second.Stop().find("dispense cycles 0,"), std::string::npos);
    std::filesystem::remove_all(dir);
}
