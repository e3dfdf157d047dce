#include "sim_rig.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>

namespace zeda::test {

namespace {
using Clock = std::chrono::steady_clock;
}

SimOptions FastOptions(int model) {
    SimOptions o;
    o.model = model;
    o.pacing = false;
    o.timeScale = 0.0;
    o.rejectRate = 0.0;
    o.ackWaitMs = 3000;
    o.seed = 42;
    return o;
}

uint8_t XorOf(const Bytes& b) {
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    return x;
}

Bytes Command(uint8_t cmd, const Bytes& data) {
    Bytes f = {0x04, 'P', 0x02, cmd};
    for (uint8_t b : data) f.push_back(b);
    f.push_back(0x03);
    f.push_back(XorOf(f));
    return f;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

bool WellFormedResponse(const Bytes& f) {
    if (f.size() < 6 || f[0] != 0x01 || f[2] != 0x02 || f[f.size() - 2] != 0x03 || XorOf(f) != 0) return false;
    for (std::size_t i = 1; i + 2 < f.size(); ++i)
        if (f[i] == 0x01 || f[i] == 0x03) return false;
    return true;
}

Bytes LastFrame(const Bytes& got) {
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

SimRig::SimRig(SimOptions options) : sim_(std::move(options)) {
    if (!OpenPtyPair(master_, slavePath_)) {
        ADD_FAILURE() << "no pseudo-terminal";
        return;
    }
    OpenSlave();
    thread_ = std::thread([this] { serveResult_ = sim_.Serve(master_); });
}

SimRig::~SimRig() {
    sim_.Stop();
    if (thread_.joinable()) thread_.join();
    EXPECT_EQ(serveResult_, 0);
    CloseSlave();
    if (master_ >= 0) ::close(master_);
}

void SimRig::OpenSlave() {
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave_, 0) << slavePath_;
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
}

void SimRig::CloseSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

void SimRig::Send(const Bytes& b) {
    ASSERT_EQ(::write(slave_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
}

Bytes SimRig::Read(std::size_t n) {
    Bytes out = Take(n, 5000);
    EXPECT_EQ(out.size(), n) << "bytes did not come in time";
    return out;
}

Bytes SimRig::Take(std::size_t n, int ms) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n && Clock::now() < end) {
        pollfd p{slave_, POLLIN, 0};
        uint8_t b;
        if (poll(&p, 1, 5) > 0 && ::read(slave_, &b, 1) == 1) out.push_back(b);
    }
    return out;
}

Bytes SimRig::ReadThroughFrame() {
    Bytes out;
    do {
        const Bytes b = Read(1);
        if (b.empty()) break;
        out.push_back(b[0]);
    } while (LastFrame(out).empty() || LastFrame(out).size() < 6 || LastFrame(out).end()[-2] != 0x03);
    return out;
}

Bytes SimRig::Exchange(uint8_t cmd, const Bytes& data) {
    SendCommand(cmd, data);
    EXPECT_EQ(Read(1), Bytes{0x06});
    const Bytes frame = LastFrame(ReadThroughFrame());
    Send({0x06});
    return frame;
}

bool SimRig::WaitFor(const std::function<bool(const SimCounters&)>& pred) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        if (pred(sim_.Counters())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred(sim_.Counters());
}

}  // namespace zeda::test
