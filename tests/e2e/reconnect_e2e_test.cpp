// Reconnect: the watcher on its own (a stable name that goes and comes back, a device that comes
// back but cannot be opened yet), then the headless console against zeda-sim --link, whose link
// goes and comes back as a by-id name does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"

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
