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

struct Tree {
    fs::path root = fs::temp_directory_path() / ("kalvor-ports-" + std::to_string(getpid()));
    Tree() { fs::remove_all(root); }
    ~Tree() { fs::remove_all(root); }
    std::string P(const std::string& rel) const { return (root / rel).string(); }
    void File(const std::string& rel, const std::string& text) const {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << text;
    }
    void Link(const std::string& rel, const std::string& target) const {
        fs::create_directories((root / rel).parent_path());
        fs::create_symlink(target, root / rel);
    }
    void Dir(const std::string& rel) const { fs::create_directories(root / rel); }
};

struct Pty {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string path = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
    ~Pty() { close(master); }
};

}  // namespace

TEST(PortTree, ListsFromSysfsNamesHoldersAndOpensNothing) {
    Pty usb0, usb1, uart;
    ASSERT_FALSE(uart.path.empty());
    Tree t;
    // A USB adapter (ttyUSB0) behind its interface, known to udev; a second one (ttyUSB1); an
    // on-board UART behind the serial core's port layer; a line without a UART; a virtual terminal.
    const std::string usb = "sys/devices/pci0/usb1/1-1";
    t.File(usb + "/idVendor", "0403\n");
    t.File(usb + "/idProduct", "6001\n");
    t.File(usb + "/manufacturer", "FTDI\n");
    t.File(usb + "/product", "FT232R USB UART\n");
    t.File(usb + "/serial", "A1B2\n");
    t.Dir("sys/bus/usb/drivers/ftdi_sio");
    t.Link(usb + "/1-1:1.0/driver", t.P("sys/bus/usb/drivers/ftdi_sio"));
    for (const std::string n : {"0", "1"}) {
        t.Dir(usb + "/1-1:1.0/ttyUSB" + n);
        t.Link("sys/class/tty/ttyUSB" + n + "/device", t.P(usb + "/1-1:1.0/ttyUSB" + n));
        t.File("sys/class/tty/ttyUSB" + n + "/dev", "188:" + n + "\n");
    }
    t.File("run/udev/c188:0", "S:serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0\nE:ID_VENDOR_FROM_DATABASE=Example Devices\n");
    t.Dir("sys/bus/serial-base");
    t.Dir("sys/bus/platform/drivers/serial8250");
    t.Dir("sys/devices/platform/serial8250/serial8250:0/serial8250:0.0");
    t.Link("sys/devices/platform/serial8250/driver", t.P("sys/bus/platform/drivers/serial8250"));
    t.Link("sys/devices/platform/serial8250/serial8250:0/serial8250:0.0/subsystem", t.P("sys/bus/serial-base"));
    t.Link("sys/devices/platform/serial8250/serial8250:0/serial8250:0.0/driver", t.P("sys/bus/serial-base"));
    t.Link("sys/class/tty/ttyS0/device", t.P("sys/devices/platform/serial8250/serial8250:0/serial8250:0.0"));
    t.File("sys/class/tty/ttyS0/type", "4\n");
    t.Link("sys/class/tty/ttyS1/device", t.P("sys/devices/platform/serial8250/serial8250:0/serial8250:0.0"));
    t.File("sys/class/tty/ttyS1/type", "0\n");
    t.File("sys/class/tty/tty1/dev", "4:1\n");
    t.Link("dev/ttyUSB0", usb0.path);
    t.Link("dev/ttyUSB1", usb1.path);
    t.Link("dev/ttyS0", uart.path);
    // minicom has ttyUSB0 open; picocom left a lock file for ttyUSB1; a stale lock for ttyS0.
    t.Link("proc/4242/fd/3", usb0.path);
    t.File("proc/4242/comm", "minicom\n");
    t.File("proc/4243/comm", "picocom\n");
    t.File("lock/LCK..ttyUSB1", "      4243\n");
    t.File("lock/LCK..ttyS0", "      4999\n");
    const SystemRoots roots{t.P("sys"), t.P("proc"), t.P("dev"), {t.P("lock")}, t.P("run/udev")};

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    for (const Pty* p : {&usb0, &usb1, &uart}) ASSERT_GE(inotify_add_watch(watch, p->path.c_str(), IN_OPEN), 0);

    AppOptions options;
    options.ports = {{1, t.P("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0")}};
    std::ostringstream out;
    ::setenv("XDG_CONFIG_HOME", t.P("config").c_str(), 1);
    EXPECT_EQ(ListPorts(options, out, roots), 0);
    const std::string text = out.str();
    for (const std::string& want : std::vector<std::string>{
             "  " + t.P("dev/ttyS0") + "\n      driver  serial8250\n      state   free\n",
             "  " + t.P("dev/ttyUSB0") + "\n      by-id   " + t.P("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0") +
                 "\n      driver  ftdi_sio\n      USB     0403:6001  Example Devices  FT232R USB UART  serial A1B2\n"
                 "      state   in use by minicom (pid 4242)\n",
             "  " + t.P("dev/ttyUSB1") + "\n      driver  ftdi_sio\n      USB     0403:6001  FTDI  FT232R USB UART  serial A1B2\n"
                 "      state   in use by picocom (pid 4243) (lock file " + t.P("lock/LCK..ttyUSB1") + ")\n",
             "  (1 ttyS line with no UART behind it not listed)\n",
             "  COM1  " + options.ports[0].second + "  (--port)  not present\n",
         })
        EXPECT_NE(text.find(want), std::string::npos) << "missing:\n" << want << "\nin:\n" << text;
    EXPECT_EQ(text.find("tty1"), std::string::npos) << text;

    char events[4096];
    EXPECT_EQ(read(watch, events, sizeof events), -1) << "a device was opened";
    close(watch);
}

TEST(PortTree, PermissionAdviceNamesAGroupOnlyWhenItMayReadAndWrite) {
    const struct {
        mode_t mode;
        bool inGroup;
        const char* advice;
    } cases[] = {
        {0660, false, "needs group dialout (as root: adduser alice dialout, then log in again)"},
        {0660, true, "needs group dialout: alice is in it, but this session started before (log in again)"},
        {0620, false, "mode 620: only its owner root may read and write it, no group may (as root, give it a group "
                      "with read and write, for example by a udev rule, and add alice to that group)"},
        {0600, false, "mode 600: only its owner root may read and write it"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PermissionAdvice(S_IFCHR | c.mode, "root", "dialout", "alice", c.inGroup).rfind(c.advice, 0), 0u)
            << PermissionAdvice(S_IFCHR | c.mode, "root", "dialout", "alice", c.inGroup);
}
