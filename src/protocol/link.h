// The link state machine: turns received chunks into checked response frames and runs the
// handshake around every command (ACK wait with resends, response wait, frame collection, BCC
// check, ACK/NAK), driven by four one-shot timers. One byte at a time, one switch on the state,
// no allocation.
#pragma once

#include <cstdint>

#include "protocol/frame.h"

namespace kalvor {

enum class LinkState : uint16_t { Idle = 0, AwaitAck = 1, InFrame = 3, AwaitBcc = 4 };

enum : int { TIMER_ACK = 1, TIMER_FRAME = 2, TIMER_RESPONSE = 3, TIMER_REPEAT = 4 };

constexpr unsigned kAckWaitMs = 2000;
constexpr unsigned kAckWaitShortMs = 1000;  // first dispense cycle, resend after a wrong reply
constexpr unsigned kFrameWaitMs = 150;
constexpr unsigned kFrameWaitAfterNakMs = 1000;
constexpr unsigned kResponseWaitMs = 122000;
constexpr unsigned kRepeatPauseMs = 500;

// What the link needs of the dialog around it.
class LinkHost {
public:
    virtual ~LinkHost() = default;
    virtual void LinkWrite(const uint8_t* bytes, uint32_t length) = 0;
    virtual void LinkSetTimer(int id, unsigned milliseconds) = 0;
    virtual void LinkKillTimer(int id) = 0;
    // Box with caption "Error" and the stop icon; returns when closed.
    virtual void LinkErrorBox(const char* text) = 0;
    // A frame with a good BCC lies in the received frame: dispatch it now.
    virtual void LinkFrameReceived(uint16_t length) = 0;
    // An unfinished frame lies in the raw frame: show it now (SOH inside a frame) ...
    virtual void LinkSendFrameRaw(uint16_t length) = 0;
    // ... or later, after the current handling (timer expiry, overflow).
    virtual void LinkPostFrameRaw(uint16_t length) = 0;
    // TIMER_REPEAT expired.
    virtual void LinkRepeatTimer() = 0;
    // For recording an exchange: the module's ACK arrived; the exchange ended without a good
    // answer ("no ACK", "no answer", "bad frames"; "cut off" when a frame was given up unfinished,
    // which may also be an unasked notice), told before any box.
    virtual void LinkAckReceived() {}
    virtual void LinkFailed(const char* /*how*/) {}
    // For recording an exchange: the stored frame written again, a NAK sent for a bad BCC, a NAK
    // received in place of the ACK.
    enum class Note : uint8_t { Resent, NakSent, NakReceived };
    virtual void LinkNoted(Note) {}
    // For the trace: a timer of the link ran out (TIMER_ACK, TIMER_FRAME, TIMER_RESPONSE), and
    // the link gave an exchange up ("no ACK", "no answer", "bad frames", "cut off"), each with
    // the link's state at that moment; told before anything else is done about it.
    virtual void LinkTimedOut(int /*timer*/, LinkState /*state*/) {}
    virtual void LinkGaveUp(const char* /*how*/, LinkState /*state*/) {}
};

// "Idle", "AwaitAck", "InFrame", "AwaitBcc".
const char* LinkStateName(LinkState state);

class Link {
public:
    static constexpr uint16_t kFrameCapacity = 121;

    explicit Link(LinkHost& host) : m_host(host) {}

    // One chunk from the channel.
    void OnRxChunk(const uint8_t* bytes, uint16_t length);
    // A timer expired (the host has already stopped it).
    void OnTimer(int id);

    // What every sender does after building the stored frame: write it, AwaitAck, busy, arm
    // TIMER_ACK with the given period.
    void SendStored(unsigned ackWaitMs);
    // Write the stored frame again: AwaitAck, busy, TIMER_ACK 2000 ms.
    void ResendLastFrame();
    // A further dispense cycle: write the stored frame again, AwaitAck, busy, and (so a cycle
    // whose ACK never comes cannot hang the link) arm TIMER_ACK with 1000 ms like the first cycle.
    void SendNextCycleFrame();

    StoredFrame frame;
    LinkState state = LinkState::Idle;
    int busy = 0;
    uint16_t ackReplyCount = 0;
    uint8_t ackTimeoutCount = 0;
    uint16_t nakCount = 0;
    uint8_t rx[kFrameCapacity] = {};
    uint16_t rxLength = 0;
    uint8_t raw[kFrameCapacity] = {};
    uint16_t rawLength = 0;

private:
    void OnByte(uint8_t byte);
    void StartFrame();
    void CopyToRaw();
    void CheckFrame();

    LinkHost& m_host;
};

}  // namespace kalvor
