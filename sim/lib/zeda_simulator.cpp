#include "zeda_simulator.h"

#include <cerrno>
#include <cmath>

#include "zeda_sim_impl.h"

namespace zeda {

using namespace sim_detail;

namespace {

bool ValidProbability(double p) { return p >= 0.0 && p <= 1.0; }

}  // namespace

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
