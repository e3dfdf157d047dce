// The channel's reader thread: chunks of at most 80 bytes in order, writes and the trace, closing and
// reopening while the reader waits or hands over (never a chunk of a closed opening), a pulled device.
#include "channel_rig.h"

namespace kalvor {
namespace {

using namespace chantest;
using namespace std::chrono_literals;

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

}  // namespace
}  // namespace kalvor
