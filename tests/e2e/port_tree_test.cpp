// --list-ports against a made-up /sys, /proc, /dev and lock folder: what it finds, who holds
// what, and that it opens none of the devices (each node leads to a pseudo-terminal watched for
// opens with inotify).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/ports/port_listing.h"

using namespace kalvor;
namespace fs = std::filesystem;

namespace {

struct Pty {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string path = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
    ~Pty() { close(master); }
};

}  // namespace

TEST(PortTree, ListsFromSysfsNamesHoldersAndOpensNothing) {
    Pty usb0, usb1, uart;
    ASSERT_FALSE(uart.path.empty());
    const fs::path root = fs::temp_directory_path() / ("kalvor-ports-" + std::to_string(getpid()));
    const auto P = [&](const std::string& rel) { return (root / rel).string(); };
    // A USB adapter (ttyUSB0, known to udev) and a second one (ttyUSB1) behind their interface; an
    // on-board UART behind the serial core's port layer; a line without a UART; a virtual
    // terminal. minicom has ttyUSB0 open, picocom left a lock file for ttyUSB1, a dead process
    // one for ttyS0. Entries: "FILE", "TEXT"; "LINK", "@IN THE TREE" or ">ABSOLUTE"; "FOLDER/".
    const std::string usb = "sys/devices/pci0/usb1/1-1", uartDev = "sys/devices/platform/serial8250";
    const std::vector<std::pair<std::string, std::string>> tree = {
        {usb + "/idVendor", "0403"}, {usb + "/idProduct", "6001"}, {usb + "/manufacturer", "FTDI"},
        {usb + "/product", "FT232R USB UART"}, {usb + "/serial", "A1B2"}, {usb + "/1-1:1.0/ttyUSB0/", ""},
        {usb + "/1-1:1.0/ttyUSB1/", ""}, {"sys/bus/usb/drivers/ftdi_sio/", ""},
        {usb + "/1-1:1.0/driver", "@sys/bus/usb/drivers/ftdi_sio"},
        {"sys/class/tty/ttyUSB0/device", "@" + usb + "/1-1:1.0/ttyUSB0"}, {"sys/class/tty/ttyUSB0/dev", "188:0"},
        {"sys/class/tty/ttyUSB1/device", "@" + usb + "/1-1:1.0/ttyUSB1"}, {"sys/class/tty/ttyUSB1/dev", "188:1"},
        {"run/udev/c188:0", "S:serial/by-id/usb-FTDI_A1B2-if00-port0\nE:ID_VENDOR_FROM_DATABASE=Example Devices"},
        {"sys/bus/serial-base/", ""}, {"sys/bus/platform/drivers/serial8250/", ""}, {uartDev + "/serial8250:0/0.0/", ""},
        {uartDev + "/driver", "@sys/bus/platform/drivers/serial8250"},
        {uartDev + "/serial8250:0/0.0/subsystem", "@sys/bus/serial-base"},
        {"sys/class/tty/ttyS0/device", "@" + uartDev + "/serial8250:0/0.0"}, {"sys/class/tty/ttyS0/type", "4"},
        {"sys/class/tty/ttyS1/device", "@" + uartDev + "/serial8250:0/0.0"}, {"sys/class/tty/ttyS1/type", "0"},
        {"sys/class/tty/tty1/dev", "4:1"}, {"dev/ttyUSB0", ">" + usb0.path}, {"dev/ttyUSB1", ">" + usb1.path},
        {"dev/ttyS0", ">" + uart.path}, {"proc/4242/fd/3", ">" + usb0.path}, {"proc/4242/comm", "minicom"},
        {"proc/4243/comm", "picocom"}, {"lock/LCK..ttyUSB1", "      4243"}, {"lock/LCK..ttyS0", "      4999"},
    };
    fs::remove_all(root);
    for (const auto& [rel, what] : tree) {
        fs::create_directories((root / rel).parent_path());
        if (rel.back() == '/') continue;
        if (!what.empty() && what[0] == '@') fs::create_symlink(root / what.substr(1), root / rel);
        else if (!what.empty() && what[0] == '>') fs::create_symlink(what.substr(1), root / rel);
        else std::ofstream(root / rel) << what << "\n";
    }
    const SystemRoots roots{P("sys"), P("proc"), P("dev"), {P("lock")}, P("run/udev")};
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const Pty* p : {&usb0, &usb1, &uart}) ASSERT_GE(inotify_add_watch(watch, p->path.c_str(), IN_OPEN), 0);

    AppOptions options;
    options.ports = {{1, P("dev/serial/by-id/usb-FTDI_A1B2-if00-port0")}};
    ::setenv("XDG_CONFIG_HOME", P("config").c_str(), 1);
    std::ostringstream out;
    EXPECT_EQ(ListPorts(options, out, roots), 0);
    const std::string text = out.str();
    for (const std::string& want : std::vector<std::string>{
             "  " + P("dev/ttyS0") + "\n      driver  serial8250\n      state   free\n",
             "  " + P("dev/ttyUSB0") + "\n      by-id   " + options.ports[0].second + "\n      driver  ftdi_sio\n"
                 "      USB     0403:6001  Example Devices  FT232R USB UART  serial A1B2\n"
                 "      state   in use by minicom (pid 4242)\n",
             "  " + P("dev/ttyUSB1") + "\n      driver  ftdi_sio\n      USB     0403:6001  FTDI  FT232R USB UART  serial A1B2\n"
                 "      state   in use by picocom (pid 4243) (lock file " + P("lock/LCK..ttyUSB1") + ")\n",
             "  (1 ttyS line with no UART behind it not listed)\n",
             "  COM1  " + options.ports[0].second + "  (--port)  not present\n",
         })
        EXPECT_NE(text.find(want), std::string::npos) << "missing:\n" << want << "\nin:\n" << text;
    EXPECT_EQ(text.find("tty1"), std::string::npos) << text;
    char events[4096];
    EXPECT_EQ(read(watch, events, sizeof events), -1) << "a device was opened";
    close(watch);
    fs::remove_all(root);

    // Permission advice names a group only when that group may read and write, and the user.
    EXPECT_EQ(PermissionAdvice(S_IFCHR | 0660, "root", "dialout", "alice", false),
              "needs group dialout (as root: adduser alice dialout, then log in again)");
    EXPECT_EQ(PermissionAdvice(S_IFCHR | 0620, "root", "tty", "alice", false).find("tty"), std::string::npos);
}
