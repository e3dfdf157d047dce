// Finding the ports: the --port and model options, where COM1-COM4 lead, the listing of devices
// (with a made-up scan, so that it runs where there is no adapter), and the probe of a device's
// state against real pseudo-terminals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/headless/app_options.h"
#include "app/ports/port_listing.h"
#include "zeda_cli.h"

using namespace kalvor;

namespace {

std::string Parse(std::vector<std::string> args, AppOptions& o) {
    args.insert(args.begin(), "kalvor-tp");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), o);
}

struct Pty {
    int master = -1;
    std::string path;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) path = ptsname(master);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
};

}  // namespace

TEST(PortOptions, PortMappingsAndModelNames) {
    using Ports = std::vector<std::pair<int, std::string>>;
    struct Case {
        std::vector<std::string> args;
        Ports ports;
        int simulate;
        const char* complaint;  // "" when accepted
    } cases[] = {
        {{"--port", "/dev/ttyUSB0"}, {{1, "/dev/ttyUSB0"}}, -1, ""},
        {{"--port=COM3=/dev/serial/by-id/usb-x"}, {{3, "/dev/serial/by-id/usb-x"}}, -1, ""},
        {{"--port", "com2=/tmp/a=b", "--port", "COM4=/dev/x"}, {{2, "/tmp/a=b"}, {4, "/dev/x"}}, -1, ""},
        {{"--port", "./COM5=x"}, {{1, "./COM5=x"}}, -1, ""},  // a path that merely contains COM5=
        {{"--port", "COM5=/dev/x"}, {}, -1, "COM1 to COM4"},
        {{"--port", "COM0=/dev/x"}, {}, -1, "COM1 to COM4"},
        {{"--port", "COM2="}, {}, -1, "needs a device path"},
        {{"--port"}, {}, -1, "needs [COMn=]PATH"},
        {{"--port", "/a", "--port", "COM1=/b"}, {}, -1, "COM1 is given twice"},
        {{"--port", "/a", "--simulate"}, {}, -1, "give one of them"},
        {{"--simulate", "1000"}, {}, 0, ""},
        {{"--simulate=ZEDA1000"}, {}, 0, ""},
        {{"--simulate", "2000"}, {}, 1, ""},
        {{"--simulate"}, {}, 1, ""},
        {{"--simulate", "3000"}, {}, -1, "zeda1000, zeda2000, 1000 or 2000"},
        {{"--list-ports", "--port", "COM2=/x"}, {{2, "/x"}}, -1, ""},
    };
    for (const Case& c : cases) {
        AppOptions o;
        const std::string complaint = Parse(c.args, o);
        const std::string what = c.args.empty() ? "" : c.args.front() + " " + (c.args.size() > 1 ? c.args[1] : "");
        if (*c.complaint != '\0') {
            EXPECT_NE(complaint.find(c.complaint), std::string::npos) << what << ": " << complaint;
            continue;
        }
        EXPECT_EQ(complaint, "") << what;
        EXPECT_EQ(o.ports, c.ports) << what;
        EXPECT_EQ(o.simulate, c.simulate) << what;
    }

    // zeda-sim takes the same names.
    for (const auto& [name, model] : std::vector<std::pair<std::string, int>>{
             {"1000", 1000}, {"zeda1000", 1000}, {"ZEDA2000", 2000}, {"2000", 2000}, {"zeda", 0}, {"20000", 0}}) {
        zeda::CliConfig cfg;
        std::string error;
        EXPECT_EQ(zeda::ParseCommandLine({"--model", name}, cfg, error), model != 0) << name;
        if (model != 0) {
            EXPECT_EQ(cfg.options.model, model) << name;
        }
    }
}

TEST(PortListing, WhereEachComLeadsAndEveryDeviceWithItsState) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    for (const char* name : {"KALVOR_COM1", "KALVOR_COM3", "KALVOR_COM4"}) ::unsetenv(name);
    ::setenv("KALVOR_COM2", pty.path.c_str(), 1);
    AppOptions options;
    options.ports = {{4, "/nonexistent/by-id/usb-gone"}};
    const auto profile = [](const std::string& key) { return key == "COM3" ? std::string("/dev/ttyUSB0") : ""; };
    const std::vector<ComMapping> coms = ResolveComMappings(options, profile, "/home/t/.config/kalvor-tp.ini");
    ::unsetenv("KALVOR_COM2");

    // A udev that knows one USB adapter and one on-board port, and hid two empty ttyS lines.
    SerialScan scan{{{.node = "/dev/ttyUSB0", .kernelName = "ttyUSB0",
                      .byId = {"/dev/serial/by-id/usb-Example_Serial_A1-if00-port0"}, .driver = "usbserial_generic",
                      .usbVendorId = "1234", .usbProductId = "5678", .vendor = "Example", .product = "Serial",
                      .serial = "A1"},
                     {.node = "/dev/ttyS0", .kernelName = "ttyS0", .byId = {}, .driver = "serial", .usbVendorId = {},
                      .usbProductId = {}, .vendor = {}, .product = {}, .serial = {}}},
                    2, {}};
    const auto probe = [&](const std::string& path) {
        PortState s;
        if (path == pty.path) s.kind = PortState::Kind::Busy, s.detail = "zeda-sim (pid 7)";
        else if (path == "/dev/ttyS0") s.kind = PortState::Kind::NotPermitted, s.detail = "needs group dialout";
        else if (path == "/dev/ttyUSB0") s.kind = PortState::Kind::Free;
        return s;
    };
    std::ostringstream out;
    WritePortListing(out, coms, scan, "2", probe);
    const std::string text = out.str();
    for (const std::string& line : std::vector<std::string>{
             "  COM1  /dev/ttyS0  (default)  ttyS0, not permitted: needs group dialout\n",
             "  COM3  /dev/ttyUSB0  (profile /home/t/.config/kalvor-tp.ini [COMPORTS])  ttyUSB0, free\n",
             "  COM2  " + pty.path + "  (environment KALVOR_COM2)  pseudo-terminal " + pty.path +
                 ", in use by zeda-sim (pid 7)\n",
             "  COM4  /nonexistent/by-id/usb-gone  (--port)  not present\n",
             "The console starts on COM4 (--port).\n",
             "  /dev/ttyUSB0  (COM3)\n      by-id   /dev/serial/by-id/usb-Example_Serial_A1-if00-port0\n"
             "      driver  usbserial_generic\n      USB     1234:5678  Example  Serial  serial A1\n"
             "      state   free\n",
             "  /dev/ttyS0  (COM1)\n      driver  serial\n      state   not permitted: needs group dialout\n",
             "  " + pty.path + "  (COM2)\n      kind    pseudo-terminal (no hardware)\n",
             "  (2 ttyS lines with no UART behind it not listed)\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << "missing:\n" << line << "\nin:\n" << text;
    EXPECT_EQ(text.find("exist only while"), std::string::npos) << "a by-id name is there";

    // Nothing found, no command-line port: the remembered port, and the note on by-id names.
    std::ostringstream none;
    WritePortListing(none, ResolveComMappings(AppOptions{}, nullptr, ""), SerialScan{}, "3", probe);
    EXPECT_NE(none.str().find("The console starts on COM3 (remembered in the profile).\n"), std::string::npos);
    EXPECT_NE(none.str().find("  none found\n"), std::string::npos) << none.str();
    EXPECT_NE(none.str().find("No /dev/serial/by-id names: they exist only while a USB serial adapter is plugged in."),
              std::string::npos);
}

TEST(PortProbe, FreeMissingHeldLockedExclusiveAndNotPermitted) {
    Pty free, exclusive, locked, held;
    ASSERT_FALSE(held.path.empty());
    // Another process keeps `held` open until told to go.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(held.path.c_str(), O_RDWR | O_NOCTTY);
        char c;
        (void)!read(go[0], &c, 1);
        _exit(fd >= 0 ? 0 : 1);
    }
    close(go[0]);
    const int ex = open(exclusive.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(ioctl(ex, TIOCEXCL), 0);
    const int lk = open(locked.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(lk, LOCK_EX | LOCK_NB), 0);
    for (int i = 0; i < 200 && ProbePort(held.path).kind == PortState::Kind::Free; ++i) usleep(5000);

    const struct {
        std::string path;
        PortState::Kind kind;
        std::string detail;
    } cases[] = {
        {free.path, PortState::Kind::Free, ""},
        {"/nonexistent/ttyUSB0", PortState::Kind::Missing, ""},
        {"/tmp", PortState::Kind::Unusable, "not a character device"},
        {"/dev/null", PortState::Kind::Unusable, "not a terminal device"},
        // Held by this very process: the probe opens nothing, so it sees its holder, not the mode.
        {exclusive.path, PortState::Kind::Busy, "(pid " + std::to_string(getpid()) + ")"},
        {locked.path, PortState::Kind::Busy, "(pid " + std::to_string(getpid()) + ")"},
        {held.path, PortState::Kind::Busy, "(pid " + std::to_string(child) + ")"},
    };
    for (const auto& c : cases) {
        const PortState s = ProbePort(c.path);
        EXPECT_EQ(s.kind, c.kind) << c.path << ": " << DescribePortState(s);
        EXPECT_NE(s.detail.find(c.detail), std::string::npos) << c.path << ": " << s.detail;
    }

    // A device of another group: refused to a user who is not in it (run as nobody when root).
    ASSERT_EQ(chmod(free.path.c_str(), 0600), 0);
    const pid_t probe = fork();
    if (probe == 0) {
        if (geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        } else if (chmod(free.path.c_str(), 0) != 0) {
            _exit(4);
        }
        const PortState s = ProbePort(free.path);
        _exit(s.kind == PortState::Kind::NotPermitted && s.detail.find("only its owner") != std::string::npos ? 0 : 1);
    }
    int status = -1;
    waitpid(probe, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    (void)!write(go[1], "x", 1);
    close(go[1]);
    waitpid(child, &status, 0);
    close(ex);
    close(lk);
}
