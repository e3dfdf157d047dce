// The simulator's side of the handshake: bytes out (paced like a real line), bytes in, command frames
// acknowledged or refused, the answer repeated after the console's NAK and dropped when given up.
#include <cerrno>

#include "zeda_sim_impl.h"

namespace zeda {

using namespace sim_detail;

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

}  // namespace zeda
