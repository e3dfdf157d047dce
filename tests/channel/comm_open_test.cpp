// Opening the channel: where COMn leads, the opens refused (no such port, not a terminal, held by
// another opener, unsupported settings), and the line settings asked of the driver and read back.
#include "channel_rig.h"

namespace kalvor {
namespace {

using namespace chantest;
using namespace std::chrono_literals;

TEST(CommBasicsTest, PortResolutionClosedChannelAndRefusedOpens) {
    for (const char* name : {"KALVOR_COM0", "KALVOR_COM2", "KALVOR_COM3"}) ::unsetenv(name);
    std::string askedKey;
    auto profile = [&](const std::string& key) { return askedKey = key, std::string("/dev/ttyUSB7"); };
    EXPECT_EQ("/dev/ttyS2", ResolveComPath(3, nullptr));
    EXPECT_EQ("/dev/ttyUSB7", ResolveComPath(3, profile));
    EXPECT_EQ("COM3", askedKey);
    EXPECT_EQ("/dev/ttyS2", ResolveComPath(3, [](const std::string&) { return std::string(); }));
    ::setenv("KALVOR_COM3", "/dev/pts/99", 1);
    EXPECT_EQ("/dev/pts/99", ResolveComPath(3, profile));
    ::setenv("KALVOR_COM3", "", 1);
    EXPECT_EQ("/dev/ttyUSB7", ResolveComPath(3, profile));
    ::unsetenv("KALVOR_COM3");

    CComm c;
    EXPECT_FALSE(c.IsConnected());
    EXPECT_STREQ("", c.PortName());
    EXPECT_EQ(1, c.InitEvents());
    EXPECT_EQ(1, c.InitEvents());
    EXPECT_EQ(1, c.ClosePort());  // closing a closed channel is harmless
    const uint8_t b = 0x06;
    EXPECT_EQ(0, c.WriteComm(&b, 1));
    EXPECT_EQ("/dev/ttyS1", c.ResolvePort(2));

    // COM0 forms its name and fails on the device it resolves to.
    EXPECT_EQ(0, c.OpenPort(0, 9600, 8, 0, 0));
    EXPECT_STREQ("COM0", c.PortName());
    EXPECT_EQ("/dev/ttyS-1", c.DevicePath());
    EXPECT_EQ(ENOENT, c.LastErrno());
    EXPECT_EQ("/dev/ttyS-1: " + std::string(std::strerror(ENOENT)), c.LastError());

    // Above 4: refused before any system call (not even resolved), nothing changes.
    int resolved = 0;
    c.SetPortResolver([&](int n) { return ++resolved, "/x/" + std::to_string(n); });
    EXPECT_EQ("/x/2", c.ResolvePort(2));
    EXPECT_EQ(0, c.OpenPort(5, 9600, 8, 0, 0));
    EXPECT_EQ(0, c.OpenPort(65535, 9600, 8, 0, 0));
    EXPECT_EQ(1, resolved);
    EXPECT_STREQ("COM0", c.PortName());
    EXPECT_EQ("/dev/ttyS-1", c.DevicePath());

    // Not a terminal: refused with the path in the reason, and a regular file's lock released.
    char file[] = "/tmp/kalvor-comm-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    for (const std::string& path : {std::string("/dev/null"), std::string(file)}) {
        SCOPED_TRACE(path);
        c.SetPortResolver([&](int) { return path; });
        EXPECT_EQ(0, c.OpenPort(1, 9600, 8, 0, 0));
        EXPECT_STREQ("COM1", c.PortName());
        EXPECT_EQ(path, c.DevicePath());
        EXPECT_NE(0, c.LastErrno());
        EXPECT_NE(std::string::npos, c.LastError().find(path)) << c.LastError();
        EXPECT_TRUE(DeviceLockFree(path));
    }
    ::unlink(file);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(0, CComm::RunningReaders());
}

// Exclusive even for root (flock besides TIOCEXCL); closing or destroying releases both.
TEST_F(ChannelTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
    ASSERT_EQ(1, Open());
    EXPECT_EQ(1, ExclusiveFlag(pty.slave));
    EXPECT_FALSE(DeviceLockFree(pty.path));
    Recorder rec2;
    auto second = std::make_unique<CComm>();
    second->SetOwner(&rec2, &ui);
    EXPECT_EQ(0, ui.Call([&] { return second->OpenPort(1, 9600, 8, 0, 0); }));
    EXPECT_FALSE(second->IsConnected());
    EXPECT_EQ(EBUSY, second->LastErrno()) << second->LastError();
    EXPECT_EQ(1, CComm::RunningReaders());
    EXPECT_EQ(1, ExclusiveFlag(pty.slave)) << "a refused opener must not clear the first's exclusivity";
    ASSERT_TRUE(pty.Send(Pattern(3)));
    EXPECT_TRUE(WaitFor([&] { return Received() == Pattern(3); }));  // the first still works

    EXPECT_EQ(1, Close());
    EXPECT_EQ(0, ExclusiveFlag(pty.slave));
    EXPECT_EQ(1, ui.Call([&] { return second->OpenPort(1, 9600, 8, 0, 0); }));
    ASSERT_TRUE(pty.Send(Pattern(5, 9)));
    EXPECT_TRUE(WaitFor([&] { return ui.Call([&] { return rec2.All() == Pattern(5, 9); }); }));
    ui.Call([&] { second.reset(); });  // destroyed while open
    EXPECT_TRUE(DeviceLockFree(pty.path));
    EXPECT_EQ(0, ExclusiveFlag(pty.slave));
}

// Raw mode with the given settings, flag by flag; CSIZE and PARENB only when `sizeAndParity`.
void ExpectRaw(const termios& t, speed_t code, tcflag_t csize, uint8_t stop, uint8_t parity, bool sizeAndParity) {
    EXPECT_EQ(code, cfgetispeed(&t));
    EXPECT_EQ(code, cfgetospeed(&t));
    EXPECT_EQ(stop != kOneStopBit, (t.c_cflag & CSTOPB) != 0);
    EXPECT_EQ(tcflag_t(CLOCAL | CREAD), t.c_cflag & (CLOCAL | CREAD | CRTSCTS));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | IGNPAR | PARMRK));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    EXPECT_EQ(0, t.c_cc[VMIN]);
    EXPECT_EQ(0, t.c_cc[VTIME]);
    EXPECT_EQ(parity != kParityNone, (t.c_iflag & INPCK) != 0);
    EXPECT_EQ(parity == kParityOdd || parity == kParityMark, (t.c_cflag & PARODD) != 0);
    EXPECT_EQ(parity == kParityMark || parity == kParitySpace, (t.c_cflag & CMSPAR) != 0);
    if (sizeAndParity) {
        EXPECT_EQ(csize, t.c_cflag & CSIZE);
        EXPECT_EQ(parity != kParityNone, (t.c_cflag & PARENB) != 0);
    }
}

// What the channel asks of the driver, and what the opened pty reports (read back on the slave;
// a Linux pty forces CS8 and drops PARENB, so those two are compared only where it keeps them).
TEST_F(ChannelTest, LineSettingsRequestedReadBackOrRefused) {
    struct Case {
        uint16_t baud;
        speed_t code;
        uint8_t size;
        tcflag_t csize;
        uint8_t stop, parity;  // stop 0 one, 1 one and a half, 2 two; parity 0 none, 1 odd, 2 even, 3 mark, 4 space
    };
    const Case cases[] = {{9600, B9600, 8, CS8, 0, 0},   {4800, B4800, 8, CS8, 0, 1},   {19200, B19200, 8, CS8, 0, 2},
                          {38400, B38400, 8, CS8, 0, 3}, {9600, B9600, 8, CS8, 0, 4},   {1200, B1200, 7, CS7, 2, 2},
                          {2400, B2400, 5, CS5, 1, 0},   {57600, B57600, 6, CS6, 0, 0}};
    Pty probe;
    termios p = probe.Termios();
    p.c_cflag = (p.c_cflag & ~CSIZE) | CS7 | PARENB;
    ::tcsetattr(probe.slave, TCSANOW, &p);
    const bool keeps = (probe.Termios().c_cflag & (CSIZE | PARENB)) == (CS7 | PARENB);
    const termios cooked = pty.Termios();
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.baud << " baud, " << int(k.size) << " bits, stop " << int(k.stop)
                                        << ", parity " << int(k.parity));
        ::tcsetattr(pty.slave, TCSANOW, &cooked);
        termios t = cooked;
        std::string why;
        ASSERT_TRUE(serial_detail::MakeLineSettings(t, k.baud, k.size, k.stop, k.parity, &why)) << why;
        ExpectRaw(t, k.code, k.csize, k.stop, k.parity, true);
        // Opened twice: reopening with unchanged settings makes glibc report the pty's dropped
        // PARENB as EINVAL, which must not count as a refusal.
        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(1, Open(k.baud, k.size, k.stop, k.parity)) << comm->LastError();
            ExpectRaw(pty.Termios(), k.code, k.csize, k.stop, k.parity, keeps);
            if (!keeps) {
                EXPECT_EQ(tcflag_t(CS8), pty.Termios().c_cflag & CSIZE);
            }
            EXPECT_EQ(1, Close());
        }
    }
    EXPECT_EQ(B115200, serial_detail::BaudCode(115200));
    EXPECT_EQ(B0, serial_detail::BaudCode(14400));
    EXPECT_TRUE(serial_detail::IsPseudoTerminal(pty.slave));
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_FALSE(serial_detail::IsPseudoTerminal(fd));
    ::close(fd);

    // Refused settings close the port again and start no reader.
    ASSERT_TRUE(WaitReaders(0)) << "the readers of the openings above did not end";
    EXPECT_EQ(0, Open(12345));
    EXPECT_EQ(EINVAL, comm->LastErrno());
    EXPECT_EQ(pty.path + ": unsupported baud rate 12345", comm->LastError());
    EXPECT_TRUE(DeviceLockFree(pty.path));
    EXPECT_EQ(0, ExclusiveFlag(pty.slave));
    for (uint8_t size : {4, 9}) EXPECT_EQ(0, Open(9600, size)) << int(size);
    EXPECT_EQ(0, Open(9600, 8, 3));
    EXPECT_EQ(0, Open(9600, 8, 0, 5));
    EXPECT_FALSE(Connected());
    EXPECT_EQ(0, CComm::RunningReaders());
    EXPECT_EQ(1, Open());  // and the device is usable right after
}

}  // namespace
}  // namespace kalvor
