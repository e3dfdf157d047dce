// A simulator serving a pseudo-terminal on its own thread, and the console's end of the line for the test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "zeda_simulator.h"

namespace zeda::test {

using Bytes = std::vector<uint8_t>;

// No pacing, no mechanical time, no rejects, a generous ACK wait.
inline SimOptions FastOptions(int model = 2000) {
    SimOptions o;
    o.model = model;
    o.pacing = false;
    o.timeScale = 0.0;
    o.rejectRate = 0.0;
    o.ackWaitMs = 3000;
    o.seed = 42;
    return o;
}

inline uint8_t XorOf(const Bytes& b) {
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    return x;
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// EOT 'P' STX cmd data ETX BCC, built here independently of the simulator's own frame code.
inline Bytes Command(uint8_t cmd, const Bytes& data = {}) {
    Bytes f = {0x04, 'P', 0x02, cmd};
    for (uint8_t b : data) f.push_back(b);  // (insert trips a false -Warray-bounds in GCC 12)
    f.push_back(0x03);
    f.push_back(XorOf(f));
    return f;
}

// SOH id STX code data ETX BCC with a zero exclusive OR and no 0x01/0x03 inside.
inline bool WellFormedResponse(const Bytes& f) {
    return f.size() >= 6 && f[0] == 0x01 && f[2] == 0x02 && f[f.size() - 2] == 0x03 && XorOf(f) == 0 &&
           std::none_of(f.begin() + 1, f.end() - 2, [](uint8_t b) { return b == 0x01 || b == 0x03; });
}

// Read as the console reads: the last answer completed in `got`, or an unfinished answer at its end.
// Reject notices (SOH 0x9C reason) never complete.
inline Bytes LastFrame(const Bytes& got) {
    std::size_t start = 0;
    bool open = false, awaitBcc = false;
    Bytes last;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (awaitBcc) {
            last.assign(got.begin() + static_cast<long>(start), got.begin() + static_cast<long>(i) + 1);
            open = awaitBcc = false;
        } else if (got[i] == 0x01) {
            start = i;
            open = true;
        } else if (open && got[i] == 0x03) {
            awaitBcc = true;
        }
    }
    if (open && !(got.size() > start + 1 && got[start + 1] == 0x9C))
        return Bytes(got.begin() + static_cast<long>(start), got.end());
    return last;
}

class SimRig {
public:
    explicit SimRig(SimOptions options) : sim_(std::move(options)) {
        if (!OpenPtyPair(master_, slavePath_)) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        OpenSlave();
        thread_ = std::thread([this] { serveResult_ = sim_.Serve(master_); });
    }
    ~SimRig() {
        sim_.Stop();
        if (thread_.joinable()) thread_.join();
        EXPECT_EQ(serveResult_, 0);
        CloseSlave();
        if (master_ >= 0) ::close(master_);
    }

    Simulator& Sim() { return sim_; }
    void OpenSlave() {
        slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(slave_, 0) << slavePath_;
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
    }
    void CloseSlave() {
        if (slave_ >= 0) ::close(slave_);
        slave_ = -1;
    }
    void Send(const Bytes& b) { ASSERT_EQ(::write(slave_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
    void SendCommand(uint8_t cmd, const Bytes& data = {}) { Send(Command(cmd, data)); }
    // Whatever arrives within ms (at most n bytes).
    Bytes Collect(int ms, std::size_t n = SIZE_MAX) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (out.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{slave_, POLLIN, 0};
            uint8_t b;
            if (poll(&p, 1, 5) > 0 && ::read(slave_, &b, 1) == 1) out.push_back(b);
        }
        return out;
    }
    // Exactly n bytes (the test fails when they do not come within 5 s).
    Bytes Read(std::size_t n) {
        Bytes out = Collect(5000, n);
        EXPECT_EQ(out.size(), n) << "bytes did not come in time";
        return out;
    }
    // Everything up to and including the next answer's BCC.
    Bytes ReadThroughFrame() {
        Bytes out;
        for (Bytes f; f.size() < 6 || f.end()[-2] != 0x03; f = LastFrame(out)) {
            const Bytes b = Read(1);
            if (b.empty()) break;
            out.push_back(b[0]);
        }
        return out;
    }
    // Command, its ACK, the answer, the console's ACK; returns the answer frame.
    Bytes Exchange(uint8_t cmd, const Bytes& data = {}) {
        SendCommand(cmd, data);
        EXPECT_EQ(Read(1), Bytes{0x06});
        const Bytes frame = LastFrame(ReadThroughFrame());
        Send({0x06});
        return frame;
    }
    // Polls the counters until `pred` holds; false after 10 s.
    bool WaitFor(const std::function<bool(const SimCounters&)>& pred) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (; !pred(sim_.Counters()); std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            if (std::chrono::steady_clock::now() > end) return false;
        return true;
    }

private:
    Simulator sim_;
    int master_ = -1, slave_ = -1;
    std::string slavePath_;
    std::thread thread_;
    int serveResult_ = 0;
};

}  // namespace zeda::test
