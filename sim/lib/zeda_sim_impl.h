// The simulator's serving state, shared by the files that hold its parts: the handshake on the line
// (zeda_sim_handshake.cpp), the injected faults (zeda_sim_faults.cpp), and the serving loop with its
// timers (zeda_simulator.cpp). Private to the simulator library.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>

#include "zeda_module.h"
#include "zeda_protocol.h"
#include "zeda_simulator.h"

namespace zeda {

namespace sim_detail {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

inline constexpr std::size_t kMaxQueued = 4;
inline constexpr int kMaxTransmissions = 3;  // the answer and at most two repeats after the console's NAK
inline constexpr auto kHangupNap = std::chrono::milliseconds(10);
inline constexpr auto kWriteGiveUp = std::chrono::seconds(2);

}  // namespace sim_detail

using sim_detail::Clock;
using sim_detail::Ms;

struct Simulator::Impl {
    struct Pending {
        uint8_t cmd;
        Bytes data;
    };
    struct Exchange {
        Reply reply;
        Clock::time_point start;
        Clock::time_point due;
        std::size_t nextNotice = 0;
        bool withhold = false;
        bool sent = false;
        int transmissions = 0;
        Clock::time_point ackDeadline;
    };

    explicit Impl(SimOptions opt) : o(std::move(opt)), module(o), faultRng(o.seed ^ 0x5EEDFA17u) {
        if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) wake[0] = wake[1] = -1;
    }
    ~Impl() {
        if (wake[0] >= 0) ::close(wake[0]);
        if (wake[1] >= 0) ::close(wake[1]);
    }

    // --- shared with other threads -------------------------------------------------------------------
    SimOptions o;
    mutable std::mutex mu;  // counters and module
    Module module;
    SimCounters counters;
    std::atomic<bool> stop{false};
    int wake[2] = {-1, -1};

    // --- the serving thread only ---------------------------------------------------------------------
    std::mt19937 faultRng;
    int fd = -1;
    Clock::time_point t0;
    bool hungUp = false;
    bool hangupSeen = false;  // a write found the line closed; handled by the loop
    CommandParser parser;
    Clock::time_point lastByte;
    std::deque<Pending> queue;
    std::optional<Exchange> cur;
    Clock::time_point lineFree;

    int Serve(int descriptor);

    void Add(uint64_t SimCounters::*field, uint64_t n = 1) {
        std::lock_guard<std::mutex> lock(mu);
        counters.*field += n;
    }
    void CountFault(FaultKind k) {
        std::lock_guard<std::mutex> lock(mu);
        ++counters.faults[static_cast<int>(k)];
    }

    template <class... Parts>
    void Log(const Parts&... parts) {
        if (!o.log) return;
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        std::ostringstream line;
        line.setf(std::ios::fixed);
        line.precision(3);
        line << "[" << s << "] ";
        (line << ... << parts);
        line << '\n';
        *o.log << line.str() << std::flush;
    }

    Clock::duration Scaled(double ms) const {
        return std::chrono::duration_cast<Clock::duration>(Ms(ms * o.timeScale));
    }

    // Sleeps up to `d`, woken early by Stop(). Returns false once a stop is requested.
    bool Nap(Clock::duration d) {
        if (stop.load()) return false;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
        pollfd p{wake[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long long>(0, ms))) > 0) DrainWake();
        return !stop.load();
    }
    void DrainWake() {
        char buf[64];
        while (::read(wake[0], buf, sizeof buf) > 0) {
        }
    }

    double ByteMicros() const {
        const double bits = o.parity == 'N' ? 10.0 : 11.0;
        return 1e6 * bits / static_cast<double>(o.baud);
    }

    bool WriteAll(const uint8_t* p, std::size_t n);
    void Send(const Bytes& bytes, const char* what);
    void SendAck() {
        Send({kAck}, "ACK");
        Add(&SimCounters::acksSent);
    }
    void SendNak() {
        Send({kNak}, "NAK");
        Add(&SimCounters::naksSent);
    }
    uint8_t NoiseByte() {
        // Any byte but SOH (it would open a frame at the console) and ACK (it would look like a good reply).
        auto b = static_cast<uint8_t>(Below(faultRng, 254));
        if (b >= kSoh) ++b;
        if (b >= kAck) ++b;
        return b;
    }

    void ReadInput();
    void OnByte(uint8_t b);
    void OnCommand(const CommandParser::Event& e);
    void StartExchange(uint8_t cmd, const Bytes& data);
    void Transmit(bool first);
    void ConsoleAcked();
    void ConsoleNaked();
    void Abandon(const char* why);
    void Finish();
    void RunTimers();
    std::optional<Clock::time_point> NextDeadline() const;
    void OnHangup();
};

}  // namespace zeda
