#include "zeda_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>

#include "zeda_module.h"
#include "zeda_protocol.h"

namespace zeda {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr std::size_t kMaxQueued = 4;
constexpr int kMaxTransmissions = 3;  // the answer and at most two repeats after the console's NAK
constexpr auto kHangupNap = std::chrono::milliseconds(10);
constexpr auto kWriteGiveUp = std::chrono::seconds(2);

bool ValidProbability(double p) { return p >= 0.0 && p <= 1.0; }

}  // namespace

const char* FaultName(FaultKind k) {
    switch (k) {
    case FaultKind::DropAck: return "drop-ack";
    case FaultKind::NakAck: return "nak-ack";
    case FaultKind::NoiseAck: return "noise-ack";
    case FaultKind::CorruptBcc: return "corrupt-bcc";
    case FaultKind::CutResponse: return "cut-response";
    case FaultKind::Late: return "late";
    case FaultKind::NoAnswer: return "no-answer";
    case FaultKind::Noise: return "noise";
    case FaultKind::ErrorAt: return "error-at";
    case FaultKind::Count: break;
    }
    return "?";
}

std::string ValidateOptions(const SimOptions& o) {
    if (o.model != 1000 && o.model != 2000) return "model must be 1000 or 2000";
    if (o.baud == 0) return "baud rate must be positive";
    if (o.parity != 'N' && o.parity != 'E' && o.parity != 'O') return "parity must be N, E or O";
    if (!ValidProbability(o.rejectRate)) return "reject rate must be between 0 and 1";
    if (o.maxRejects > 98) return "max rejects must be at most 98";
    if (!(o.timeScale >= 0.0) || !std::isfinite(o.timeScale)) return "time scale must be 0 or more";
    if (o.averageCassette < -1 || o.averageCassette > 1) return "average cassette must be -1, 0 or 1";
    if (o.rvdtAverageUpper > 0xFFF || o.rvdtAverageLower > 0xFFF) return "RVDT averages are 12-bit values";
    if (o.dipSwitches > 0xFF) return "DIP switches are 8 bits";
    if (o.romVersion.size() > 4) return "ROM version has at most 4 characters";
    for (char c : o.romVersion)
        if (c == kSoh || c == kEtx) return "ROM version must not contain 0x01 or 0x03";
    const FaultOptions& f = o.faults;
    for (double p : {f.dropAck, f.nakAck, f.noiseAck, f.corruptBcc, f.cutResponse, f.late, f.noAnswer, f.noise})
        if (!ValidProbability(p)) return "fault probabilities must be between 0 and 1";
    for (const ErrorAt& e : f.errorAt) {
        if (e.cycle == 0) return "error cycles count from 1";
        if (e.code == kSoh || e.code == kEtx) return "an error code must not be 0x01 or 0x03";
    }
    return {};
}

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

bool Simulator::Impl::WriteAll(const uint8_t* p, std::size_t n) {
    auto stalledSince = Clock::now();
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            Add(&SimCounters::bytesSent, static_cast<uint64_t>(w));
            stalledSince = Clock::now();
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() - stalledSince > kWriteGiveUp || stop.load()) return false;
            pollfd pf{fd, POLLOUT, 0};
            poll(&pf, 1, 20);
            continue;
        }
        hangupSeen = true;  // EIO: nobody has the line open
        return false;
    }
    return true;
}

void Simulator::Impl::Send(const Bytes& bytes, const char* what) {
    if (hungUp || hangupSeen || bytes.empty()) return;
    // Bytes written to a pseudo-terminal that nobody holds open would reach the next console that opens it.
    pollfd pf{fd, 0, 0};
    if (poll(&pf, 1, 0) > 0 && (pf.revents & POLLHUP)) {
        hangupSeen = true;
        return;
    }
    Log("tx ", what, ": ", HexDump(bytes));
    if (!o.pacing) {
        WriteAll(bytes.data(), bytes.size());
        return;
    }
    // At line speed: small pieces, each written when the line would be free, so that the console sees the
    // bytes arrive over time as from a real module.
    const double us = ByteMicros();
    const std::size_t piece = std::max<std::size_t>(1, static_cast<std::size_t>(10000.0 / us));
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        const std::size_t n = std::min(piece, bytes.size() - i);
        const auto now = Clock::now();
        if (lineFree > now && !Nap(lineFree - now)) return;
        if (!WriteAll(bytes.data() + i, n)) return;
        lineFree = std::max(lineFree, Clock::now()) +
                   std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::micro>(us * n));
    }
    const auto now = Clock::now();
    if (lineFree > now) Nap(lineFree - now);
    // When the last piece has gone out: with the line above, how long the paced bytes took.
    Log("tx done: ", bytes.size(), " bytes");
}

void Simulator::Impl::ReadInput() {
    uint8_t buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
        Add(&SimCounters::bytesReceived, static_cast<uint64_t>(n));
        Log("rx ", HexDump(buf, static_cast<std::size_t>(n)));
        for (ssize_t i = 0; i < n && !hangupSeen; ++i) OnByte(buf[i]);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    hangupSeen = true;  // EIO from a pty master without a slave, or end of file
}

void Simulator::Impl::OnByte(uint8_t b) {
    lastByte = Clock::now();
    if (!parser.InFrame()) {
        if (b == kAck) {
            Add(&SimCounters::acksReceived);
            if (cur && cur->sent) ConsoleAcked();
            return;
        }
        if (b == kNak) {
            Add(&SimCounters::naksReceived);
            if (cur && cur->sent) ConsoleNaked();
            return;
        }
    }
    const CommandParser::Event e = parser.Feed(b);
    switch (e.kind) {
    case CommandParser::Kind::None:
        break;
    case CommandParser::Kind::Stray:
        Add(&SimCounters::strayBytes);
        break;
    case CommandParser::Kind::Frame:
        Add(&SimCounters::framesReceived);
        Add(&SimCounters::goodFrames);
        OnCommand(e);
        break;
    case CommandParser::Kind::BadFrame:
        Add(&SimCounters::framesReceived);
        Add(&SimCounters::badFrames);
        Log("bad command frame ", HexDump(e.raw));
        SendNak();
        break;
    }
}

void Simulator::Impl::OnCommand(const CommandParser::Event& e) {
    if (!IsKnownCommand(e.cmd)) {
        Add(&SimCounters::unknownCommands);
        Log("unknown command ", HexDump(&e.cmd, 1));
        SendNak();
        return;
    }
    // Every draw is made for every command, so that one fault's setting does not shift the others' dice.
    const bool drop = Chance(faultRng, o.faults.dropAck);
    const bool nak = Chance(faultRng, o.faults.nakAck);
    const bool noise = Chance(faultRng, o.faults.noiseAck);
    if (drop) {
        CountFault(FaultKind::DropAck);
        Log("fault drop-ack: no ACK, command not taken");
        return;
    }
    if (nak) {
        CountFault(FaultKind::NakAck);
        Log("fault nak-ack: NAK instead of ACK, command not taken");
        SendNak();
        return;
    }
    if (noise) {
        CountFault(FaultKind::NoiseAck);
        Log("fault noise-ack: noise instead of ACK, command not taken");
        Send({NoiseByte()}, "noise");
        return;
    }
    // A console that sends a new command has given up on the answer still waiting for its ACK.
    if (cur && cur->sent) Abandon("the console sent a new command");
    if (cur) {
        if (queue.size() >= kMaxQueued) {
            Log("busy: command ", HexDump(&e.cmd, 1), " refused");
            SendNak();
            return;
        }
        SendAck();
        queue.push_back({e.cmd, e.data});
        Log("busy: command ", HexDump(&e.cmd, 1), " queued");
        return;
    }
    SendAck();
    StartExchange(e.cmd, e.data);
}

void Simulator::Impl::StartExchange(uint8_t cmd, const Bytes& data) {
    std::optional<Reply> reply;
    {
        std::lock_guard<std::mutex> lock(mu);
        reply = module.Execute(cmd, data);
        if (!reply) return;  // unreachable: only known commands get here
        ++counters.commandsExecuted;
        if (reply->dispense) ++counters.dispenseCycles;
        if (reply->injectedError) ++counters.faults[static_cast<int>(FaultKind::ErrorAt)];
    }
    Exchange x;
    x.reply = std::move(*reply);
    x.start = Clock::now();
    const bool late = Chance(faultRng, o.faults.late);
    const bool never = Chance(faultRng, o.faults.noAnswer);
    x.due = x.start + Scaled(x.reply.workMs);
    if (never) {
        x.withhold = true;
        CountFault(FaultKind::NoAnswer);
    } else if (late) {
        x.due += std::chrono::milliseconds(o.faults.lateMs);
        CountFault(FaultKind::Late);
    }
    if (x.reply.injectedError) Log("fault error-at: cycle answers code ", HexDump(&x.reply.result, 1));
    Log("command ", HexDump(&cmd, 1), " taken, answer after ",
        std::chrono::duration_cast<std::chrono::milliseconds>(x.due - x.start).count(), " ms",
        x.withhold ? " (fault no-answer: never)" : (late ? " (fault late)" : ""));
    cur = std::move(x);
}

void Simulator::Impl::Transmit(bool first) {
    Exchange& x = *cur;
    Bytes frame = x.reply.frame;
    const bool noise = Chance(faultRng, o.faults.noise);
    const bool corrupt = Chance(faultRng, o.faults.corruptBcc);
    const bool cut = Chance(faultRng, o.faults.cutResponse);
    if (noise) {
        CountFault(FaultKind::Noise);
        Bytes junk(1 + Below(faultRng, 3));
        for (uint8_t& b : junk) b = NoiseByte();
        Send(junk, "noise (fault)");
    }
    if (corrupt) {
        CountFault(FaultKind::CorruptBcc);
        frame.back() = static_cast<uint8_t>(frame.back() ^ (1 + Below(faultRng, 255)));
    }
    if (cut) {
        CountFault(FaultKind::CutResponse);
        frame.resize(1 + Below(faultRng, static_cast<unsigned>(frame.size() - 2)));  // never reaches the ETX
    }
    const char* what = cut ? "answer cut short (fault)" : corrupt ? "answer, wrong BCC (fault)" : "answer";
    Send(frame, what);
    Add(first ? &SimCounters::responsesSent : &SimCounters::responsesResent);
    ++x.transmissions;
    x.sent = true;
    x.ackDeadline = Clock::now() + std::chrono::milliseconds(o.ackWaitMs);
}

void Simulator::Impl::ConsoleAcked() {
    {
        std::lock_guard<std::mutex> lock(mu);
        ++counters.responsesAcknowledged;
        if (cur->reply.dispense) {
            counters.notesDispensed += cur->reply.dispensed;
            counters.notesRejected += cur->reply.rejected;
        }
    }
    Finish();
}

void Simulator::Impl::ConsoleNaked() {
    if (cur->transmissions < kMaxTransmissions) {
        Transmit(false);
        return;
    }
    Abandon("NAK after the last repeat");
}

void Simulator::Impl::Abandon(const char* why) {
    Add(&SimCounters::responsesAbandoned);
    Log("answer abandoned: ", why);
    Finish();
}

void Simulator::Impl::Finish() {
    cur.reset();
    if (!queue.empty()) {
        Pending p = std::move(queue.front());
        queue.pop_front();
        StartExchange(p.cmd, p.data);
    }
}

void Simulator::Impl::RunTimers() {
    auto now = Clock::now();
    if (parser.InFrame() && now - lastByte >= std::chrono::milliseconds(o.frameGapMs)) {
        const CommandParser::Event e = parser.Expire();
        if (e.kind == CommandParser::Kind::BadFrame) {
            Add(&SimCounters::framesReceived);
            Add(&SimCounters::badFrames);
            Log("command frame stalled: ", HexDump(e.raw));
            SendNak();
        }
    }
    while (cur && !hangupSeen && !stop.load()) {
        Exchange& x = *cur;
        now = Clock::now();
        if (!x.sent) {
            const auto& notices = x.reply.notices;
            // Notices go out on time, and every one of them before the answer.
            while (x.nextNotice < notices.size() &&
                   (x.start + Scaled(notices[x.nextNotice].atMs) <= now || now >= x.due)) {
                Send(notices[x.nextNotice].bytes, "reject notice");
                Add(&SimCounters::noticesSent);
                ++x.nextNotice;
            }
            if (now < x.due) return;
            if (x.withhold) {
                Log("answer withheld (fault no-answer)");
                Finish();
                continue;
            }
            Transmit(true);
            return;
        }
        if (now < x.ackDeadline) return;
        Abandon("no ACK from the console");
    }
}

std::optional<Clock::time_point> Simulator::Impl::NextDeadline() const {
    std::optional<Clock::time_point> d;
    auto consider = [&](Clock::time_point t) {
        if (!d || t < *d) d = t;
    };
    if (parser.InFrame()) consider(lastByte + std::chrono::milliseconds(o.frameGapMs));
    if (cur) {
        if (!cur->sent) {
            consider(cur->due);
            if (cur->nextNotice < cur->reply.notices.size())
                consider(cur->start + Scaled(cur->reply.notices[cur->nextNotice].atMs));
        } else {
            consider(cur->ackDeadline);
        }
    }
    return d;
}

void Simulator::Impl::OnHangup() {
    hangupSeen = false;
    if (hungUp) return;
    hungUp = true;
    Add(&SimCounters::hangups);
    Log("line closed by the other side");
    // Nobody is there to answer to: the exchange and the commands waiting behind it are dropped.
    parser.Reset();
    queue.clear();
    if (cur && cur->sent) Add(&SimCounters::responsesAbandoned);
    cur.reset();
}

int Simulator::Impl::Serve(int descriptor) {
    if (descriptor < 0 || wake[0] < 0) return -1;
    const std::string bad = ValidateOptions(o);
    if (!bad.empty()) {
        Log("options: ", bad);
        return -1;
    }
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0 || fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
    fd = descriptor;
    t0 = lastByte = lineFree = Clock::now();
    hungUp = hangupSeen = false;
    parser.Reset();
    queue.clear();
    cur.reset();
    Log("serving as ZEDA", o.model, ", ", o.baud, " baud, parity ", o.parity, ", seed ", o.seed,
        o.pacing ? "" : ", no pacing");

    int result = 0;
    while (!stop.load()) {
        if (hangupSeen) OnHangup();
        if (hungUp) {
            // A pty master reports hang-up while no one has the slave open: look again every 10 ms.
            if (!Nap(kHangupNap)) break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) < 0 && errno != EINTR) {
                result = -1;
                break;
            }
            if (p.revents & POLLNVAL) {
                result = -1;
                break;
            }
            if (p.revents & POLLHUP) continue;
            hungUp = false;
            lastByte = lineFree = Clock::now();
            Log("line open again");
            continue;
        }

        int timeout = 500;
        if (const auto d = NextDeadline()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*d - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 500));
        }
        pollfd p[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        const int r = poll(p, 2, timeout);
        if (r < 0 && errno != EINTR) {
            result = -1;
            break;
        }
        if (r > 0 && (p[1].revents & POLLIN)) DrainWake();
        if (stop.load()) break;
        if (r > 0) {
            if (p[0].revents & POLLNVAL) {
                result = -1;
                break;
            }
            if (p[0].revents & POLLIN)
                ReadInput();
            else if (p[0].revents & (POLLHUP | POLLERR))
                hangupSeen = true;
        }
        if (!hangupSeen) RunTimers();
    }
    fcntl(descriptor, F_SETFL, flags);
    Log("stopped");
    return result;
}

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() = default;

int Simulator::Serve(int fd) { return impl_->Serve(fd); }

void Simulator::Stop() {
    impl_->stop.store(true);
    if (impl_->wake[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] const ssize_t n = ::write(impl_->wake[1], &c, 1);
    }
}

bool Simulator::StopRequested() const { return impl_->stop.load(); }

SimCounters Simulator::Counters() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->counters;
}

ModuleState Simulator::State() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->module.State();
}

const SimOptions& Simulator::Options() const { return impl_->o; }

std::string FormatCounters(const SimCounters& c, const ModuleState& s) {
    std::ostringstream out;
    out << "bytes received " << c.bytesReceived << ", sent " << c.bytesSent << "\n"
        << "command frames " << c.framesReceived << ": good " << c.goodFrames << ", bad " << c.badFrames
        << ", unknown commands " << c.unknownCommands << ", stray bytes " << c.strayBytes << "\n"
        << "ACK received " << c.acksReceived << ", NAK received " << c.naksReceived << ", ACK sent "
        << c.acksSent << ", NAK sent " << c.naksSent << "\n"
        << "commands executed " << c.commandsExecuted << ", answers sent " << c.responsesSent << ", repeated "
        << c.responsesResent << ", acknowledged " << c.responsesAcknowledged << ", abandoned "
        << c.responsesAbandoned << ", reject notices " << c.noticesSent << "\n"
        << "dispense cycles " << c.dispenseCycles << ", notes dispensed " << c.notesDispensed << ", rejected "
        << c.notesRejected << " (acknowledged answers)\n"
        << "faults:";
    for (int k = 0; k < kFaultKinds; ++k) out << " " << FaultName(static_cast<FaultKind>(k)) << " " << c.faults[k];
    out << "\n"
        << "line closed by the console " << c.hangups << " times\n"
        << "ZEDA" << s.model << ": upper " << s.notesUpper << " notes" << (s.upperPresent ? "" : " (no cassette)");
    if (s.model != 1000) out << ", lower " << s.notesLower << " notes" << (s.lowerPresent ? "" : " (no cassette)");
    out << ", reject tray " << s.rejectTray << "\n";
    return out.str();
}

}  // namespace zeda
