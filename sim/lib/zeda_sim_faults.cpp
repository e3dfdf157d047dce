// The injected faults: their names, and where the dice are cast for each command taken (a late or
// withheld answer) and each transmission of its answer (noise before it, a wrong BCC, cut short).
#include "zeda_sim_impl.h"

namespace zeda {

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

}  // namespace zeda
