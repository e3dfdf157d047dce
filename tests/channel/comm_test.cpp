// Channel tests: the real CComm against pseudo-terminals, with a stand-in UI thread.
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "serial/comm.h"
#include "serial/line_settings.h"

namespace kalvor {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5000ms) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !pred(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end) return pred();
    return true;
}
bool WaitReaders(int n, std::chrono::milliseconds timeout = 10000ms) {
    return WaitFor([n] { return CComm::RunningReaders() == n; }, timeout);
}

Bytes Pattern(size_t n, uint8_t start = 0) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i);
    return v;
}

// A pseudo-terminal pair. The test keeps the slave open (so termios can be read back) and plays
// the module on the non-blocking master.
struct Pty {
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) < 0) throw std::runtime_error("openpty");
        path = name;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    void CloseMaster() { ::close(std::exchange(master, -1)); }
    bool Send(const Bytes& v) { return ::write(master, v.data(), v.size()) == static_cast<ssize_t>(v.size()); }
    termios Termios() const {
        termios t{};
        ::tcgetattr(slave, &t);
        return t;
    }
    int master = -1, slave = -1;
    std::string path;
};

// A stand-in UI thread. HandOver (from readers) and Call (from the test) queue work and block
// until the loop has run it, so every CComm call happens on the UI thread as in the program.
class UiLoop : public RxSink {
public:
    UiLoop() : m_thread([this] { Loop(); }) {}
    ~UiLoop() override {
        {
            std::lock_guard lock(m_mu);
            m_stopping = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    void HandOver(std::function<void()> work) override {
        bool done = false;
        std::unique_lock lock(m_mu);
        if (m_stopping) return;  // shutting down: return without running it
        m_queue.emplace_back(&work, &done);
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return done; });
    }
    template <class F>
    auto Call(F f) {
        std::packaged_task<std::invoke_result_t<F>()> task(std::move(f));
        auto result = task.get_future();
        HandOver([&] { task(); });
        return result.get();
    }

private:
    void Loop() {
        std::unique_lock lock(m_mu);
        for (;;) {
            m_cv.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) return;
            auto [work, done] = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            (*work)();
            lock.lock();
            *done = true;
            m_cv.notify_all();
        }
    }
    std::mutex m_mu;
    std::condition_variable m_cv;
    std::deque<std::pair<std::function<void()>*, bool*>> m_queue;
    bool m_stopping = false;
    std::thread m_thread;  // last: starts after the members above exist
};

int ExclusiveFlag(int fd) {
    int excl = -1;
    return ::ioctl(fd, TIOCGEXCL, &excl) < 0 ? -1 : excl;
}

// Whether another open file description can take the device's advisory lock right now.
bool DeviceLockFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

// The owner: lives on the UI thread; the test reads it through UiLoop::Call.
struct Recorder : CommOwner {
    std::vector<Bytes> chunks;
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
    Bytes All() const {
        Bytes out;
        for (const auto& c : chunks) out.insert(out.end(), c.begin(), c.end());
        return out;
    }
};

// COM1 is the fixture's pty, through the default resolver (KALVOR_COM1).
class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WaitReaders(0)) << "readers left over from an earlier test";
        ::setenv("KALVOR_COM1", pty.path.c_str(), 1);
        comm->SetOwner(&rec, &ui);
        ASSERT_EQ(1, comm->InitEvents());
    }
    void TearDown() override {
        ui.Call([this] { comm.reset(); });
        EXPECT_TRUE(WaitReaders(0)) << "a reader did not end";
        ::unsetenv("KALVOR_COM1");
    }
    int Open(uint16_t baud = 9600, uint8_t size = 8, uint8_t stop = kOneStopBit, uint8_t parity = kParityNone) {
        return ui.Call([=, this] { return comm->OpenPort(1, baud, size, stop, parity); });
    }
    int Close() { return ui.Call([this] { return comm->ClosePort(); }); }
    bool Connected() { return ui.Call([this] { return comm->IsConnected(); }); }
    Bytes Received() { return ui.Call([this] { return rec.All(); }); }

    UiLoop ui;  // first member: destroyed last
    Pty pty;
    Recorder rec;
    std::unique_ptr<CComm> comm = std::make_unique<CComm>();
};

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

// 200 bytes queued while the owner is busy with a first chunk arrive as 80/80/40, in order.
TEST_F(ChannelTest, ChunksOfAtMost80InOrder) {
    std::atomic<bool> primerSeen{false}, bulkSent{false};
    ui.Call([&] {
        rec.onChunk = [&](const uint8_t*, uint16_t) {
            if (rec.chunks.size() != 1) return;
            primerSeen = true;
            WaitFor([&] { return bulkSent.load(); });
            std::this_thread::sleep_for(100ms);
        };
    });
    ASSERT_EQ(1, Open());
    EXPECT_EQ(pty.path, comm->DevicePath());
    EXPECT_EQ("", comm->LastError());
    EXPECT_EQ(0, comm->LastErrno());
    EXPECT_EQ(1, CComm::RunningReaders());
    ASSERT_TRUE(pty.Send({0xA5}));
    ASSERT_TRUE(WaitFor([&] { return primerSeen.load(); }));
    ASSERT_TRUE(pty.Send(Pattern(200, 1)));
    bulkSent = true;
    ASSERT_TRUE(WaitFor([&] { return Received().size() >= 201; }));
    std::this_thread::sleep_for(50ms);
    const std::vector<Bytes> chunks = {{0xA5}, Pattern(80, 1), Pattern(80, 81), Pattern(40, 161)};
    ui.Call([&] { EXPECT_EQ(chunks, rec.chunks); });
}

TEST_F(ChannelTest, WritesReachTheLineAndTheTraceSeesBothDirections) {
    std::vector<std::pair<bool, Bytes>> trace;  // UI thread only
    comm->SetTrace([&](bool tx, const uint8_t* d, size_t n) { trace.emplace_back(tx, Bytes(d, d + n)); });
    ASSERT_EQ(1, Open());
    const Bytes frame = {0x02, 0x30, 0x31, 0x03, 0x77};
    EXPECT_EQ(1, ui.Call([&] { return comm->WriteComm(frame.data(), static_cast<uint32_t>(frame.size())); }));
    Bytes line;
    EXPECT_TRUE(WaitFor([&] {
        uint8_t b[16];
        const ssize_t n = ::read(pty.master, b, sizeof b);
        line.insert(line.end(), b, b + std::max<ssize_t>(n, 0));
        return line.size() >= frame.size();
    }));
    EXPECT_EQ(frame, line);
    ASSERT_TRUE(pty.Send({0x06}));
    ASSERT_TRUE(WaitFor([&] { return !Received().empty(); }));
    ui.Call([&] { EXPECT_EQ((std::vector<std::pair<bool, Bytes>>{{true, frame}, {false, {0x06}}}), trace); });

    // Nobody reads the master: the pty fills up and a write gives up instead of blocking.
    const Bytes big(1 << 20, 0x55);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(0, ui.Call([&] { return comm->WriteComm(big.data(), static_cast<uint32_t>(big.size())); }));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1000ms);
    EXPECT_TRUE(Connected());
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

TEST_F(ChannelTest, CloseWhileTheReaderWaitsOrInsideTheHandler) {
    ASSERT_EQ(1, Open());
    std::this_thread::sleep_for(20ms);  // the reader is parked in poll()
    EXPECT_EQ(1, Close());
    EXPECT_FALSE(Connected());
    EXPECT_TRUE(DeviceLockFree(pty.path)) << "the device must be released at once";
    ASSERT_TRUE(pty.Send(Pattern(50)));
    EXPECT_TRUE(WaitReaders(0));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(Received().empty());

    ASSERT_EQ(1, Open());  // the bytes of the closed time are purged
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(1, CComm::RunningReaders());  // exactly one new reader
    ASSERT_TRUE(pty.Send(Pattern(4, 100)));
    EXPECT_TRUE(WaitFor([&] { return Received() == Pattern(4, 100); }));

    ui.Call([&] {
        rec.chunks.clear();
        rec.onChunk = [&](const uint8_t*, uint16_t) { comm->ClosePort(); };
    });
    ASSERT_TRUE(pty.Send(Pattern(200)));
    EXPECT_TRUE(WaitReaders(0));
    std::this_thread::sleep_for(50ms);
    ui.Call([&] { EXPECT_EQ(1u, rec.chunks.size()); });
    EXPECT_FALSE(Connected());
}

// The reader has read old bytes and waits in its hand-over while the UI thread closes and
// reopens: the close must not wait for it, and the old chunk must never be delivered.
TEST_F(ChannelTest, CloseAndReopenWhileTheReaderIsParkedInAHandOver) {
    ASSERT_EQ(1, Open());
    std::atomic<bool> uiBusy{false}, oldSent{false};
    int reopened = -1;
    std::thread busy([&] {
        ui.Call([&] {
            uiBusy = true;
            WaitFor([&] { return oldSent.load(); });
            std::this_thread::sleep_for(100ms);
            comm->ClosePort();
            reopened = comm->OpenPort(1, 9600, 8, 0, 0);
        });
    });
    EXPECT_TRUE(WaitFor([&] { return uiBusy.load(); }));
    const bool sent = pty.Send(Pattern(30, 200));
    oldSent = true;
    busy.join();
    ASSERT_TRUE(sent);
    EXPECT_EQ(1, reopened);
    EXPECT_TRUE(WaitReaders(1)) << "the old reader ends after its dropped hand-over";
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(Received().empty()) << "a chunk of the closed opening was delivered";
    ASSERT_TRUE(pty.Send(Pattern(6, 1)));
    EXPECT_TRUE(WaitFor([&] { return Received() == Pattern(6, 1); }));
}

// Closes and reopens the pty 1,000 times while its module keeps sending 'A'; every other round
// also visits a second pty sending 'B' (switched in one UI step, so descriptor numbers get reused).
// Every chunk delivered must hold 1..80 bytes of the device open at that moment.
TEST_F(ChannelTest, ReopenStormDeliversOnlyTheCurrentOpeningsBytes) {
    Pty other;
    char want = 'A', current = 0;  // UI thread; current is 0 while closed
    long bad = 0, delivered = 0;
    comm->SetPortResolver([&](int) { return want == 'B' ? other.path : pty.path; });
    ui.Call([&] {
        rec.onChunk = [&](const uint8_t* d, uint16_t n) {
            if (!current || n == 0 || n > CComm::kRxBurst || std::count(d, d + n, current) != n) ++bad;
            else if (++delivered % 5 == 0) std::this_thread::sleep_for(100us);  // a slow owner now and then
            rec.chunks.clear();
        };
    });
    std::atomic<bool> stop{false};
    auto module = [&stop](int fd, uint8_t v) {
        const Bytes buf(37, v);
        while (!stop.load())
            if (::write(fd, buf.data(), buf.size()) < 0) std::this_thread::sleep_for(50us);
    };
    std::thread wa(module, pty.master, uint8_t('A')), wb(module, other.master, uint8_t('B'));
    // Closes what is open and opens `device` (unless 0), in one UI step.
    auto step = [&](char device, uint16_t baud = 19200, uint8_t parity = kParityEven) {
        return ui.Call([&] {
            comm->ClosePort();
            want = device;
            current = device && comm->OpenPort(1, baud, 8, 0, parity) ? device : 0;
            return current == device;
        });
    };
    bool ok = true;
    for (int i = 0; ok && i < 1000; ++i) {
        if (i % 3 != 0) step(0);  // otherwise close and reopen in one UI step
        ok = step('A');
        if (i % 10 == 0) std::this_thread::sleep_for(1ms);
        if (ok && i % 2 == 1) ok = step('B', 38400, kParityNone);
        if (i % 7 == 0) std::this_thread::sleep_for(1ms);
        if (i % 4 == 1) {  // hand-overs of the closed opening reach the UI thread while closed
            step(0);
            ui.Call([] {});
        }
    }
    step(0);
    stop = true;
    wa.join();
    wb.join();
    EXPECT_TRUE(ok) << comm->LastError();
    EXPECT_TRUE(WaitReaders(0, 30000ms));
    ui.Call([&] {
        EXPECT_EQ(0, bad) << "chunks of a closed opening or another device, or of a wrong size";
        EXPECT_GT(delivered, 0) << "the storm never received anything";
    });
}

TEST_F(ChannelTest, PulledDeviceEndsTheReaderAndTellsTheOwnerOnce) {
    ASSERT_EQ(1, Open());
    ASSERT_TRUE(pty.Send(Pattern(3)));
    ASSERT_TRUE(WaitFor([&] { return Received().size() == 3; }));
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
    EXPECT_LT((b.tv_sec - a.tv_sec) * 1e3 + (b.tv_nsec - a.tv_nsec) / 1e6, 50.0) << "something keeps spinning";
    ui.Call([&] {
        EXPECT_EQ(1, rec.lost);
        EXPECT_FALSE(connectedInLost) << "the channel is already closed when OnCommLost runs";
    });
    EXPECT_EQ(1, Close());  // harmless afterwards
    EXPECT_EQ(0, Open()) << "the pty is gone";
    EXPECT_EQ(0, CComm::RunningReaders());
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
