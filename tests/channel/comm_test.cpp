// Channel tests: the real CComm against pseudo-terminals, with a stand-in UI thread.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "channel/pty.h"
#include "channel/ui_loop.h"
#include "serial/comm.h"
#include "serial/line_settings.h"

namespace kalvor {
namespace {

using namespace std::chrono_literals;
using test::Pty;
using test::UiLoop;

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return pred();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

bool WaitReaders(int n, std::chrono::milliseconds timeout = 10000ms) {
    return WaitFor([n] { return CComm::RunningReaders() == n; }, timeout);
}

// Stops and joins helper threads however the test body ends (an ASSERT returns early).
struct StopAndJoin {
    std::atomic<bool>& stop;
    std::vector<std::thread*> threads;
    ~StopAndJoin() {
        stop = true;
        for (auto* t : threads)
            if (t->joinable()) t->join();
    }
};

// Whether this kernel's pseudo-terminals keep PARENB and CSIZE (Linux forces CS8 and no parity).
bool PtyKeepsParityAndSize() {
    Pty p;
    termios t = p.SlaveTermios();
    ::cfmakeraw(&t);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB;
    ::tcsetattr(p.Slave(), TCSANOW, &t);
    const termios got = p.SlaveTermios();
    return (got.c_cflag & PARENB) && (got.c_cflag & CSIZE) == CS7;
}

// The owner: lives on the UI thread; the test reads it through UiLoop::Call.
struct Recorder : CommOwner {
    std::vector<std::vector<uint8_t>> chunks;
    int lost = 0;
    std::function<void(const uint8_t*, uint16_t)> onChunk;
    std::function<void()> onLost;

    void OnCommRxChar(const uint8_t* data, uint16_t length) override {
        chunks.emplace_back(data, data + length);
        if (onChunk) onChunk(data, length);
    }
    void OnCommLost() override {
        ++lost;
        if (onLost) onLost();
    }
    std::vector<uint8_t> All() const {
        std::vector<uint8_t> out;
        for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
        return out;
    }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t start = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i);
    return v;
}

#ifdef TIOCGEXCL
int ExclusiveFlag(int fd) {
    int excl = -1;
    if (::ioctl(fd, TIOCGEXCL, &excl) < 0) return -1;
    return excl;
}
#endif

// Whether another open file description can take the advisory lock of the device right now.
bool DeviceLockFree(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ok) ::flock(fd, LOCK_UN);
    ::close(fd);
    return ok;
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitReaders(0)) << "readers left over from an earlier test";
        comm = std::make_unique<CComm>();
        comm->SetOwner(&rec, &ui);
        comm->SetPortResolver([this](int) { return pty.SlavePath(); });
        ASSERT_EQ(1, comm->InitEvents());
    }
    void TearDown() override {
        ui.Call([this] { comm.reset(); });
        EXPECT_TRUE(WaitReaders(0)) << "a reader did not end";
    }

    int Open(uint16_t port = 1, uint16_t baud = 9600, uint8_t size = 8, uint8_t stop = kOneStopBit,
             uint8_t parity = kParityNone) {
        return ui.Call([=, this] { return comm->OpenPort(port, baud, size, stop, parity); });
    }
    int Close() {
        return ui.Call([this] { return comm->ClosePort(); });
    }
    bool Connected() {
        return ui.Call([this] { return comm->IsConnected(); });
    }
    size_t ReceivedBytes() {
        return ui.Call([this] { return rec.All().size(); });
    }

    UiLoop ui;  // first member: destroyed last
    Pty pty;
    Recorder rec;
    std::unique_ptr<CComm> comm;
};

// ---------------------------------------------------------------------------------------------
// Port names and resolution

TEST(ResolveComPathTest, EnvironmentThenProfileThenTtyS) {
    ::unsetenv("KALVOR_COM3");
    EXPECT_EQ("/dev/ttyS2", ResolveComPath(3, nullptr));
    EXPECT_EQ("/dev/ttyS-1", ResolveComPath(0, nullptr));
    std::string askedKey;
    auto profile = [&](const std::string& key) {
        askedKey = key;
        return std::string("/dev/ttyUSB7");
    };
    EXPECT_EQ("/dev/ttyUSB7", ResolveComPath(3, profile));
    EXPECT_EQ("COM3", askedKey);
    EXPECT_EQ("/dev/ttyS2", ResolveComPath(3, [](const std::string&) { return std::string(); }));
    ::setenv("KALVOR_COM3", "/dev/pts/99", 1);
    EXPECT_EQ("/dev/pts/99", ResolveComPath(3, profile));
    ::setenv("KALVOR_COM3", "", 1);
    EXPECT_EQ("/dev/ttyUSB7", ResolveComPath(3, profile));
    ::unsetenv("KALVOR_COM3");
}

TEST(CommBasicsTest, DefaultStateAndInitEvents) {
    CComm c;
    EXPECT_FALSE(c.IsConnected());
    EXPECT_STREQ("", c.PortName());
    EXPECT_EQ(1, c.InitEvents());
    EXPECT_EQ(1, c.InitEvents());
    EXPECT_EQ(1, c.ClosePort());  // closing a closed channel is harmless
    const uint8_t b = 0x06;
    EXPECT_EQ(0, c.WriteComm(&b, 1));
    ::unsetenv("KALVOR_COM2");
    EXPECT_EQ("/dev/ttyS1", c.ResolvePort(2));
    c.SetPortResolver([](int n) { return "/x/" + std::to_string(n); });
    EXPECT_EQ("/x/2", c.ResolvePort(2));
}

TEST(CommBasicsTest, PortAboveFourRefusedBeforeAnySystemCall) {
    CComm c;
    int resolverCalls = 0;
    c.SetPortResolver([&](int) {
        ++resolverCalls;
        return std::string("/dev/null");
    });
    EXPECT_EQ(0, c.OpenPort(5, 9600, 8, 0, 0));
    EXPECT_EQ(0, c.OpenPort(65535, 9600, 8, 0, 0));
    EXPECT_EQ(0, resolverCalls);
    EXPECT_FALSE(c.IsConnected());
    EXPECT_STREQ("", c.PortName());  // nothing changes
    EXPECT_EQ("", c.DevicePath());
    EXPECT_EQ(0, CComm::RunningReaders());
}

TEST(CommBasicsTest, Com0FormsTheNameAndFails) {
    ::unsetenv("KALVOR_COM0");
    CComm c;
    EXPECT_EQ(0, c.OpenPort(0, 9600, 8, 0, 0));
    EXPECT_STREQ("COM0", c.PortName());
    EXPECT_EQ("/dev/ttyS-1", c.DevicePath());
    EXPECT_EQ(ENOENT, c.LastErrno());
    EXPECT_EQ("/dev/ttyS-1: " + std::string(std::strerror(ENOENT)), c.LastError());
    EXPECT_FALSE(c.IsConnected());
    EXPECT_EQ(0, CComm::RunningReaders());
}

TEST(CommBasicsTest, NotATerminalIsRefusedAndLeftClosed) {
    CComm c;
    c.SetPortResolver([](int) { return std::string("/dev/null"); });
    EXPECT_EQ(0, c.OpenPort(1, 9600, 8, 0, 0));
    EXPECT_FALSE(c.IsConnected());
    EXPECT_STREQ("COM1", c.PortName());
    EXPECT_EQ("/dev/null", c.DevicePath());
    EXPECT_NE(0, c.LastErrno());
    EXPECT_NE(std::string::npos, c.LastError().find("/dev/null")) << c.LastError();

    char tmpl[] = "/tmp/kalvor-comm-XXXXXX";
    int fd = ::mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const std::string file = tmpl;
    c.SetPortResolver([&](int) { return file; });
    EXPECT_EQ(0, c.OpenPort(2, 9600, 8, 0, 0));
    EXPECT_FALSE(c.IsConnected());
    EXPECT_NE("", c.LastError());
    EXPECT_TRUE(DeviceLockFree(file)) << "the lock of a refused device must be released";
    ::unlink(tmpl);
    EXPECT_EQ(0, CComm::RunningReaders());
}

TEST(CommBasicsTest, EnvironmentVariableNamesTheDevice) {
    Pty pty;
    ::setenv("KALVOR_COM4", pty.SlavePath().c_str(), 1);
    {
        UiLoop ui;
        Recorder rec;
        CComm c;
        c.SetOwner(&rec, &ui);
        EXPECT_EQ(pty.SlavePath(), c.ResolvePort(4));
        EXPECT_EQ(1, ui.Call([&] { return c.OpenPort(4, 9600, 8, 0, 0); }));
        EXPECT_EQ(pty.SlavePath(), c.DevicePath());
        EXPECT_EQ("", c.LastError());
        EXPECT_EQ(0, c.LastErrno());
        const auto data = Pattern(10);
        ASSERT_TRUE(pty.Send(data));
        EXPECT_TRUE(WaitFor([&] { return ui.Call([&] { return rec.All() == data; }); }));
        ui.Call([&] { return c.ClosePort(); });
        EXPECT_TRUE(WaitReaders(0));
    }
    ::unsetenv("KALVOR_COM4");
}

// ---------------------------------------------------------------------------------------------
// Reception

TEST_F(ChannelTest, TwoHundredBytesArriveInChunksOfAtMost80InOrder) {
    ASSERT_EQ(1, Open());
    EXPECT_EQ(1, CComm::RunningReaders());
    const auto data = Pattern(200, 7);
    ASSERT_TRUE(pty.Send(data));
    ASSERT_TRUE(WaitFor([&] { return ReceivedBytes() >= 200; }));
    std::this_thread::sleep_for(50ms);
    ui.Call([&] {
        EXPECT_EQ(data, rec.All());
        for (const auto& c : rec.chunks) {
            EXPECT_GE(c.size(), 1u);
            EXPECT_LE(c.size(), CComm::kRxBurst);
        }
    });
}

TEST_F(ChannelTest, BytesArrivingDuringAHandlerFormTheNextChunks_80_80_40) {
    std::atomic<bool> primerSeen{false};
    std::atomic<bool> bulkSent{false};
    ui.Call([&] {
        rec.onChunk = [&](const uint8_t*, uint16_t) {
            if (rec.chunks.size() != 1) return;
            primerSeen = true;  // the owner is now busy with the first chunk: the module sends 200
            WaitFor([&] { return bulkSent.load(); }, 5000ms);
            std::this_thread::sleep_for(100ms);
        };
    });
    ASSERT_EQ(1, Open());
    const uint8_t primer = 0xA5;
    ASSERT_TRUE(pty.Send(&primer, 1));
    ASSERT_TRUE(WaitFor([&] { return primerSeen.load(); }));
    const auto bulk = Pattern(200, 1);
    ASSERT_TRUE(pty.Send(bulk));
    bulkSent = true;
    ASSERT_TRUE(WaitFor([&] { return ReceivedBytes() >= 201; }));
    std::this_thread::sleep_for(50ms);
    ui.Call([&] {
        ASSERT_EQ(4u, rec.chunks.size());
        EXPECT_EQ(std::vector<uint8_t>{primer}, rec.chunks[0]);
        EXPECT_EQ(80u, rec.chunks[1].size());
        EXPECT_EQ(80u, rec.chunks[2].size());
        EXPECT_EQ(40u, rec.chunks[3].size());
        std::vector<uint8_t> rest = rec.All();
        rest.erase(rest.begin());
        EXPECT_EQ(bulk, rest);
    });
}

TEST_F(ChannelTest, TraceSeesWritesAndChunks) {
    std::vector<std::pair<bool, std::vector<uint8_t>>> trace;  // UI thread only
    comm->SetTrace([&](bool tx, const uint8_t* d, size_t n) { trace.emplace_back(tx, std::vector<uint8_t>(d, d + n)); });
    ASSERT_EQ(1, Open());
    const std::vector<uint8_t> frame = {0x02, 0x30, 0x31, 0x03, 0x77};
    EXPECT_EQ(1, ui.Call([&] { return comm->WriteComm(frame.data(), static_cast<uint32_t>(frame.size())); }));
    EXPECT_EQ(frame, pty.Receive(frame.size()));
    const std::vector<uint8_t> ack = {0x06};
    ASSERT_TRUE(pty.Send(ack));
    ASSERT_TRUE(WaitFor([&] { return ReceivedBytes() >= 1; }));
    ui.Call([&] {
        ASSERT_EQ(2u, trace.size());
        EXPECT_TRUE(trace[0].first);
        EXPECT_EQ(frame, trace[0].second);
        EXPECT_FALSE(trace[1].first);
        EXPECT_EQ(ack, trace[1].second);
    });
}

TEST_F(ChannelTest, WriteNeverBlocksForLongWhenTheLineIsStuck) {
    ASSERT_EQ(1, Open());
    // Nobody reads the master: the pty fills up and the write has to give up.
    const std::vector<uint8_t> big(1 << 20, 0x55);
    const auto t0 = std::chrono::steady_clock::now();
    const int r = ui.Call([&] { return comm->WriteComm(big.data(), static_cast<uint32_t>(big.size())); });
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(0, r);
    EXPECT_LT(took, 1000ms);
    EXPECT_TRUE(Connected());
}

// ---------------------------------------------------------------------------------------------
// Exclusivity

TEST_F(ChannelTest, SecondOpenerIsRefusedUntilTheFirstCloses) {
    ASSERT_EQ(1, Open());
#ifdef TIOCGEXCL
    EXPECT_EQ(1, ExclusiveFlag(pty.Slave()));
#endif
    Recorder rec2;
    auto second = std::make_unique<CComm>();
    second->SetOwner(&rec2, &ui);
    second->SetPortResolver([this](int) { return pty.SlavePath(); });
    EXPECT_EQ(0, ui.Call([&] { return second->OpenPort(1, 9600, 8, 0, 0); }));  // even as root
    EXPECT_FALSE(second->IsConnected());
    EXPECT_EQ(EBUSY, second->LastErrno()) << second->LastError();
    EXPECT_EQ(1, CComm::RunningReaders());
#ifdef TIOCGEXCL
    EXPECT_EQ(1, ExclusiveFlag(pty.Slave())) << "a refused opener must not clear the first's exclusivity";
#endif
    // The first still works.
    ASSERT_TRUE(pty.Send(Pattern(3)));
    EXPECT_TRUE(WaitFor([&] { return ReceivedBytes() == 3; }));

    EXPECT_EQ(1, Close());
#ifdef TIOCGEXCL
    EXPECT_EQ(0, ExclusiveFlag(pty.Slave()));
#endif
    EXPECT_EQ(1, ui.Call([&] { return second->OpenPort(1, 9600, 8, 0, 0); }));
    ASSERT_TRUE(pty.Send(Pattern(5, 9)));
    EXPECT_TRUE(WaitFor([&] { return ui.Call([&] { return rec2.All() == Pattern(5, 9); }); }));
    ui.Call([&] { second.reset(); });
    EXPECT_TRUE(WaitReaders(0));
}

TEST_F(ChannelTest, DestroyingAnOpenChannelReleasesTheDevice) {
    ASSERT_EQ(1, Open());
    EXPECT_FALSE(DeviceLockFree(pty.SlavePath()));
    ui.Call([&] { comm.reset(); });
    EXPECT_TRUE(DeviceLockFree(pty.SlavePath()));
#ifdef TIOCGEXCL
    EXPECT_EQ(0, ExclusiveFlag(pty.Slave()));
#endif
    EXPECT_TRUE(WaitReaders(0));
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(ChannelTest, CloseWhileTheReaderWaits) {
    ASSERT_EQ(1, Open());
    ASSERT_TRUE(WaitReaders(1));
    std::this_thread::sleep_for(20ms);  // the reader is parked in poll()
    EXPECT_EQ(1, Close());
    EXPECT_FALSE(Connected());
    EXPECT_TRUE(DeviceLockFree(pty.SlavePath())) << "the device must be released at once";
    ASSERT_TRUE(pty.Send(Pattern(50)));
    EXPECT_TRUE(WaitReaders(0));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(0u, ReceivedBytes());

    ASSERT_EQ(1, Open());
    EXPECT_EQ(1, CComm::RunningReaders());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(1, CComm::RunningReaders());  // exactly one new reader
    ASSERT_TRUE(pty.Send(Pattern(4, 100)));
    EXPECT_TRUE(WaitFor([&] { return ReceivedBytes() == 4; }));
    ui.Call([&] { EXPECT_EQ(Pattern(4, 100), rec.All()); });
}

TEST_F(ChannelTest, CloseAndReopenWhileTheReaderIsParkedInAHandOver) {
    ASSERT_EQ(1, Open());
    std::atomic<bool> uiBusy{false};
    std::atomic<bool> oldSent{false};
    std::atomic<bool> done{false};
    std::atomic<int> reopened{-1};
    ui.Post([&] {
        uiBusy = true;
        WaitFor([&] { return oldSent.load(); });
        std::this_thread::sleep_for(100ms);  // the reader has read the bytes and waits for us
        comm->ClosePort();                   // must not wait for that reader
        reopened = comm->OpenPort(1, 9600, 8, 0, 0);
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return uiBusy.load(); }));
    ASSERT_TRUE(pty.Send(Pattern(30, 200)));  // "old" bytes of the first opening
    oldSent = true;
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    EXPECT_EQ(1, reopened.load());
    EXPECT_TRUE(WaitReaders(1)) << "the old reader ends after its dropped hand-over";
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(0u, ReceivedBytes()) << "a chunk of the closed opening was delivered";
    ASSERT_TRUE(pty.Send(Pattern(6, 1)));
    EXPECT_TRUE(WaitFor([&] { return ReceivedBytes() == 6; }));
    ui.Call([&] { EXPECT_EQ(Pattern(6, 1), rec.All()); });
}

TEST_F(ChannelTest, OwnerMayCloseInsideItsHandler) {
    ui.Call([&] { rec.onChunk = [&](const uint8_t*, uint16_t) { comm->ClosePort(); }; });
    ASSERT_EQ(1, Open());
    ASSERT_TRUE(pty.Send(Pattern(200)));
    ASSERT_TRUE(WaitFor([&] { return ReceivedBytes() > 0; }));
    EXPECT_TRUE(WaitReaders(0));
    std::this_thread::sleep_for(50ms);
    ui.Call([&] {
        EXPECT_EQ(1u, rec.chunks.size());
        EXPECT_FALSE(comm->IsConnected());
    });
}

// The storm: close and reopen the same pty 1,000 times while the module keeps sending.
TEST_F(ChannelTest, StormOfReopensOnTheSamePty) {
    constexpr int kRounds = 1000;
    int current = -1;          // UI thread: index of the open opening, -1 when closed
    long stray = 0;            // chunks delivered while no opening was open
    long delivered = 0;
    long oversize = 0;
    std::vector<int> perOpening(kRounds, 0);
    ui.Call([&] {
        rec.onChunk = [&](const uint8_t*, uint16_t n) {
            if (n == 0 || n > CComm::kRxBurst) ++oversize;
            if (current < 0 || !comm->IsConnected()) {
                ++stray;
                return;
            }
            ++delivered;
            ++perOpening[static_cast<size_t>(current)];
            if (delivered % 5 == 0) std::this_thread::sleep_for(100us);  // a slow owner now and then
            rec.chunks.clear();
        };
    });

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        uint8_t b = 0;
        while (!stop.load()) {
            uint8_t buf[37];
            for (auto& x : buf) x = b++;
            if (::write(pty.Master(), buf, sizeof buf) < 0) std::this_thread::sleep_for(50us);
        }
    });
    StopAndJoin guard{stop, {&writer}};

    for (int i = 0; i < kRounds; ++i) {
        const bool together = (i % 3 == 0);  // close and reopen in one UI step now and then
        int opened = ui.Call([&] {
            if (together && comm->IsConnected()) {
                comm->ClosePort();
                current = -1;
            }
            int r = comm->OpenPort(1, 19200, 8, 0, kParityEven);
            if (r) current = i;
            return r;
        });
        ASSERT_EQ(1, opened) << "round " << i << ": " << comm->LastError();
        if (i % 10 == 0) std::this_thread::sleep_for(1ms);
        if (!together || i == kRounds - 1) {
            ui.Call([&] {
                comm->ClosePort();
                current = -1;
            });
        }
        // Let queued hand-overs of the closed opening run while closed, now and then.
        if (i % 4 == 1) ui.Call([] {});
    }
    ui.Call([&] {
        if (comm->IsConnected()) comm->ClosePort();
        current = -1;
    });
    stop = true;
    writer.join();
    EXPECT_TRUE(WaitReaders(0, 30000ms));
    ui.Call([&] {
        EXPECT_EQ(0, stray) << "chunks delivered after their opening was closed";
        EXPECT_EQ(0, oversize);
        EXPECT_GT(delivered, 0) << "the storm never received anything";
    });
}

// The same storm alternating between two ptys whose "modules" send different bytes: every chunk
// must carry the bytes of the device of the current opening (descriptor numbers get reused).
TEST_F(ChannelTest, StormAlternatingTwoPtysDeliversOnlyTheCurrentDevicesBytes) {
    constexpr int kRounds = 1000;
    Pty other;
    bool useOther = false;  // UI thread
    comm->SetPortResolver([&](int) { return useOther ? other.SlavePath() : pty.SlavePath(); });
    int current = -1;
    long wrongDevice = 0, stray = 0, delivered = 0;
    ui.Call([&] {
        rec.onChunk = [&](const uint8_t* d, uint16_t n) {
            if (current < 0) {
                ++stray;
                return;
            }
            const uint8_t expect = useOther ? 'B' : 'A';
            for (uint16_t k = 0; k < n; ++k)
                if (d[k] != expect) {
                    ++wrongDevice;
                    break;
                }
            ++delivered;
            rec.chunks.clear();
        };
    });
    std::atomic<bool> stop{false};
    auto spam = [&stop](int fd, uint8_t v) {
        uint8_t buf[53];
        std::memset(buf, v, sizeof buf);
        while (!stop.load())
            if (::write(fd, buf, sizeof buf) < 0) std::this_thread::sleep_for(50us);
    };
    std::thread wa(spam, pty.Master(), uint8_t('A'));
    std::thread wb(spam, other.Master(), uint8_t('B'));
    StopAndJoin guard{stop, {&wa, &wb}};
    for (int i = 0; i < kRounds; ++i) {
        const int r = ui.Call([&] {
            comm->ClosePort();
            current = -1;
            useOther = (i % 2) == 1;
            const int ok = comm->OpenPort(2, 38400, 8, 0, 0);
            if (ok) current = i;
            return ok;
        });
        ASSERT_EQ(1, r) << "round " << i << ": " << comm->LastError();
        if (i % 7 == 0) std::this_thread::sleep_for(1ms);
    }
    ui.Call([&] {
        comm->ClosePort();
        current = -1;
    });
    stop = true;
    wa.join();
    wb.join();
    EXPECT_TRUE(WaitReaders(0, 30000ms));
    ui.Call([&] {
        EXPECT_EQ(0, wrongDevice) << "a chunk of another opening's device was delivered";
        EXPECT_EQ(0, stray);
        EXPECT_GT(delivered, 0);
    });
}

// ---------------------------------------------------------------------------------------------
// The pulled device

TEST_F(ChannelTest, PulledDeviceEndsTheReaderAndTellsTheOwnerOnce) {
    ASSERT_EQ(1, Open());
    ASSERT_TRUE(pty.Send(Pattern(3)));
    ASSERT_TRUE(WaitFor([&] { return ReceivedBytes() == 3; }));
    bool connectedInLost = true;
    ui.Call([&] { rec.onLost = [&] { connectedInLost = comm->IsConnected(); }; });

    pty.CloseMaster();  // the adapter is pulled out
    ASSERT_TRUE(WaitFor([&] { return ui.Call([&] { return rec.lost; }) >= 1; }));
    EXPECT_TRUE(WaitReaders(0));
    EXPECT_FALSE(Connected());

    timespec a{}, b{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
    std::this_thread::sleep_for(300ms);
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
    const double cpuMs = (b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 50.0) << "something keeps spinning after the loss";

    ui.Call([&] {
        EXPECT_EQ(1, rec.lost);
        EXPECT_FALSE(connectedInLost) << "the channel is already closed when OnCommLost runs";
    });
    EXPECT_EQ(1, Close());  // harmless afterwards
    EXPECT_EQ(0, Open()) << "the pty is gone";
    EXPECT_FALSE(Connected());
    EXPECT_EQ(0, CComm::RunningReaders());
}

// ---------------------------------------------------------------------------------------------
// Line settings

struct LineCase {
    uint16_t baud;
    speed_t code;
    uint8_t size;
    tcflag_t csize;
    uint8_t stop;
    uint8_t parity;
};

std::string LineCaseName(const LineCase& c) {
    static const char kParity[] = "NOEMS";
    return "B" + std::to_string(c.baud) + "_" + std::to_string(c.size) + kParity[c.parity] +
           (c.stop == kOneStopBit ? "1" : c.stop == kOne5StopBits ? "1_5" : "2");
}
void PrintTo(const LineCase& c, std::ostream* os) { *os << LineCaseName(c); }

class LineSettingsTest : public ChannelTest, public ::testing::WithParamInterface<LineCase> {};

void ExpectRawWithSettings(const termios& t, const LineCase& lc, bool checkParenbAndSize) {
    EXPECT_EQ(lc.code, cfgetispeed(&t));
    EXPECT_EQ(lc.code, cfgetospeed(&t));
    EXPECT_EQ(lc.stop != kOneStopBit, (t.c_cflag & CSTOPB) != 0);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | IGNPAR | PARMRK));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    EXPECT_EQ(0, t.c_cc[VMIN]);
    EXPECT_EQ(0, t.c_cc[VTIME]);
    const bool parityOn = lc.parity != kParityNone;
    EXPECT_EQ(parityOn, (t.c_iflag & INPCK) != 0);
    EXPECT_EQ(lc.parity == kParityOdd || lc.parity == kParityMark, (t.c_cflag & PARODD) != 0);
    EXPECT_EQ(lc.parity == kParityMark || lc.parity == kParitySpace, (t.c_cflag & CMSPAR) != 0);
    if (checkParenbAndSize) {
        EXPECT_EQ(lc.csize, t.c_cflag & CSIZE);
        EXPECT_EQ(parityOn, (t.c_cflag & PARENB) != 0);
    }
}

// What the channel asks of the driver, flag by flag (all of them, PARENB and CSIZE included).
TEST_P(LineSettingsTest, TermiosRequested) {
    const LineCase lc = GetParam();
    termios t = pty.SlaveTermios();  // a cooked starting point
    std::string why;
    ASSERT_TRUE(serial_detail::MakeLineSettings(t, lc.baud, lc.size, lc.stop, lc.parity, &why)) << why;
    ExpectRawWithSettings(t, lc, true);
}

// What the opened device reports (read back on the slave). A Linux pty forces CS8 and clears
// PARENB itself; those two are checked only where the pty keeps them.
TEST_P(LineSettingsTest, TermiosOfTheOpenedDevice) {
    const LineCase lc = GetParam();
    ASSERT_EQ(1, Open(1, lc.baud, lc.size, lc.stop, lc.parity)) << comm->LastError();
    static const bool keeps = PtyKeepsParityAndSize();
    ExpectRawWithSettings(pty.SlaveTermios(), lc, keeps);
    if (!keeps) {
        EXPECT_EQ(static_cast<tcflag_t>(CS8), pty.SlaveTermios().c_cflag & CSIZE);
    }
    // Reopening with the same settings works too (nothing changes then, and glibc reports the
    // pty's dropped PARENB as EINVAL: the channel must not take that for a refusal).
    EXPECT_EQ(1, Close());
    ASSERT_EQ(1, Open(1, lc.baud, lc.size, lc.stop, lc.parity)) << comm->LastError();
    ExpectRawWithSettings(pty.SlaveTermios(), lc, keeps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineSettingsTest,
    ::testing::Values(LineCase{9600, B9600, 8, CS8, kOneStopBit, kParityNone},
                      LineCase{4800, B4800, 8, CS8, kOneStopBit, kParityOdd},
                      LineCase{19200, B19200, 8, CS8, kOneStopBit, kParityEven},
                      LineCase{38400, B38400, 8, CS8, kOneStopBit, kParityMark},
                      LineCase{9600, B9600, 8, CS8, kOneStopBit, kParitySpace},
                      LineCase{1200, B1200, 7, CS7, kTwoStopBits, kParityEven},
                      LineCase{2400, B2400, 5, CS5, kOne5StopBits, kParityNone},
                      LineCase{57600, B57600, 6, CS6, kOneStopBit, kParityNone}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return LineCaseName(info.param); });

TEST(LineSettingsHelpersTest, BaudCodesAndRefusals) {
    using serial_detail::BaudCode;
    EXPECT_EQ(B4800, BaudCode(4800));
    EXPECT_EQ(B9600, BaudCode(9600));
    EXPECT_EQ(B19200, BaudCode(19200));
    EXPECT_EQ(B38400, BaudCode(38400));
    EXPECT_EQ(B115200, BaudCode(115200));
    EXPECT_EQ(B0, BaudCode(14400));
    termios t{};
    std::string why;
    EXPECT_FALSE(serial_detail::MakeLineSettings(t, 12345, 8, 0, 0, &why));
    EXPECT_EQ("unsupported baud rate 12345", why);
    EXPECT_FALSE(serial_detail::MakeLineSettings(t, 9600, 4, 0, 0, &why));
    EXPECT_FALSE(serial_detail::MakeLineSettings(t, 9600, 9, 0, 0, &why));
    EXPECT_FALSE(serial_detail::MakeLineSettings(t, 9600, 8, 3, 0, &why));
    EXPECT_FALSE(serial_detail::MakeLineSettings(t, 9600, 8, 0, 5, &why));
}

TEST(LineSettingsHelpersTest, PseudoTerminalIsRecognised) {
    Pty p;
    EXPECT_TRUE(serial_detail::IsPseudoTerminal(p.Slave()));
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_FALSE(serial_detail::IsPseudoTerminal(fd));
    ::close(fd);
}

TEST_F(ChannelTest, RefusedSettingsCloseThePortAgain) {
    EXPECT_EQ(0, Open(1, 12345));
    EXPECT_FALSE(Connected());
    EXPECT_EQ(EINVAL, comm->LastErrno());
    EXPECT_TRUE(DeviceLockFree(pty.SlavePath()));
#ifdef TIOCGEXCL
    EXPECT_EQ(0, ExclusiveFlag(pty.Slave()));
#endif
    EXPECT_EQ(0, Open(1, 9600, 9));
    EXPECT_EQ(0, Open(1, 9600, 8, 3));
    EXPECT_EQ(0, Open(1, 9600, 8, 0, 5));
    EXPECT_EQ(0, CComm::RunningReaders());
    EXPECT_EQ(1, Open(1, 9600));  // and the device is usable right after
    EXPECT_EQ("", comm->LastError());
}

}  // namespace
}  // namespace kalvor
