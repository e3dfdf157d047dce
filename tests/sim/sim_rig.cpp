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
    // Collected as the console does: SOH starts a frame (and gives up an unfinished one), the first ETX
    // ends its text, the byte after it is the BCC. Reject notices (SOH 0x9C ...) never finish.
    std::size_t start = 0;
    bool open = false, awaitBcc = false;
    Bytes last;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const uint8_t b = got[i];
        if (awaitBcc) {
            last.assign(got.begin() + static_cast<long>(start), got.begin() + static_cast<long>(i) + 1);
            open = awaitBcc = false;
        } else if (b == 0x01) {
            start = i;
            open = true;
        } else if (open && b == 0x03) {
            awaitBcc = true;
        }
    }
    // An unfinished answer (not a notice) at the end is what the caller is looking at.
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
    if (slave_ >= 0) ::close(slave_);
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
    std::size_t done = 0;
    while (done < b.size()) {
        const ssize_t w = ::write(slave_, b.data() + done, b.size() - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else {
            pollfd p{slave_, POLLOUT, 0};
            poll(&p, 1, 10);
        }
    }
}

Bytes SimRig::Read(std::size_t n, int timeoutMs) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n && Clock::now() < end) {
        pollfd p{slave_, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        uint8_t buf[256];
        const ssize_t r = ::read(slave_, buf, std::min(sizeof buf, n - out.size()));
        if (r > 0) out.insert(out.end(), buf, buf + r);
    }
    EXPECT_EQ(out.size(), n) << "bytes did not come in time";
    return out;
}

Bytes SimRig::ReadThroughFrame(int timeoutMs) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = false, awaitBcc = false, notice = false;
    std::size_t start = 0;
    while (Clock::now() < end) {
        pollfd p{slave_, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        uint8_t b;
        if (::read(slave_, &b, 1) != 1) continue;
        out.push_back(b);
        if (awaitBcc) return out;
        if (b == 0x01) {
            open = true;
            start = out.size() - 1;
        } else if (open && out.size() == start + 2) {
            notice = b == 0x9C;  // a reject notice never ends; the answer follows it
        } else if (open && !notice && b == 0x03) {
            awaitBcc = true;
        }
    }
    ADD_FAILURE() << "no complete answer frame; got " << out.size() << " bytes";
    return out;
}

Bytes SimRig::Collect(int ms) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        pollfd p{slave_, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0) continue;
        uint8_t buf[256];
        const ssize_t r = ::read(slave_, buf, sizeof buf);
        if (r > 0) out.insert(out.end(), buf, buf + r);
    }
    return out;
}

Bytes SimRig::Exchange(uint8_t cmd, const Bytes& data) {
    SendCommand(cmd, data);
    const Bytes ack = Read(1);
    EXPECT_EQ(ack, Bytes{0x06});
    const Bytes got = ReadThroughFrame();
    const Bytes frame = LastFrame(got);
    Send({0x06});
    return frame;
}

bool SimRig::WaitFor(const std::function<bool(const SimCounters&)>& pred, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (pred(sim_.Counters())) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred(sim_.Counters());
}

}  // namespace zeda::test
