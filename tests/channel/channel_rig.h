// What the channel tests share: the real CComm against pseudo-terminals, with a stand-in UI thread
// that runs every CComm call and every hand-over from the reader, as the program's UI thread does.
#pragma once

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

namespace kalvor::chantest {


using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

inline bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5000ms) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !pred(); std::this_thread::sleep_for(1ms))
        if (std::chrono::steady_clock::now() > end) return pred();
    return true;
}
inline bool WaitReaders(int n, std::chrono::milliseconds timeout = 10000ms) {
    return WaitFor([n] { return CComm::RunningReaders() == n; }, timeout);
}

inline Bytes Pattern(size_t n, uint8_t start = 0) {
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

inline int ExclusiveFlag(int fd) {
    int excl = -1;
    return ::ioctl(fd, TIOCGEXCL, &excl) < 0 ? -1 : excl;
}

// Whether another open file description can take the device's advisory lock right now.
inline bool DeviceLockFree(const std::string& path) {
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

}  // namespace kalvor::chantest
