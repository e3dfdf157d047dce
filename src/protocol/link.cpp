#include "protocol/link.h"

#include <cstring>

namespace kalvor {

namespace {
const uint8_t kAckByte[1] = {ACK};
const uint8_t kNakByte[1] = {NAK};
}  // namespace

const char* LinkStateName(LinkState state) {
    switch (state) {
    case LinkState::Idle: return "Idle";
    case LinkState::AwaitAck: return "AwaitAck";
    case LinkState::InFrame: return "InFrame";
    case LinkState::AwaitBcc: return "AwaitBcc";
    }
    return "?";
}

void Link::SendStored(unsigned ackWaitMs) {
    m_host.LinkWrite(frame.bytes, frame.length);
    state = LinkState::AwaitAck;
    busy = 1;
    m_host.LinkSetTimer(TIMER_ACK, ackWaitMs);
}

void Link::ResendLastFrame() {
    m_host.LinkNoted(LinkHost::Note::Resent);
    SendStored(kAckWaitMs);
}

void Link::SendNextCycleFrame() { SendStored(kAckWaitShortMs); }

void Link::OnRxChunk(const uint8_t* bytes, uint16_t length) {
    // Work on a copy: a handler run from here may not change the chunk, but the caller's buffer
    // belongs to the channel.
    uint8_t local[80];
    if (length > sizeof local) length = sizeof local;
    if (length == 0) return;
    std::memcpy(local, bytes, length);
    for (uint16_t i = 0; i < length; ++i) OnByte(local[i]);
}

void Link::StartFrame() {
    state = LinkState::InFrame;
    rx[0] = SOH;
    rxLength = 1;
    m_host.LinkSetTimer(TIMER_FRAME, kFrameWaitMs);
}

void Link::CopyToRaw() {
    rawLength = rxLength <= kFrameCapacity ? rxLength : kFrameCapacity;
    std::memcpy(raw, rx, rawLength);
}

void Link::OnByte(uint8_t byte) {
    switch (state) {
    case LinkState::Idle:
        if (byte == SOH) {
            m_host.LinkKillTimer(TIMER_RESPONSE);
            StartFrame();
        }
        break;

    case LinkState::AwaitAck:
        m_host.LinkKillTimer(TIMER_ACK);
        if (byte == ACK) {
            m_host.LinkSetTimer(TIMER_RESPONSE, kResponseWaitMs);
            state = LinkState::Idle;
            ackReplyCount = 0;
            ackTimeoutCount = 0;
            m_host.LinkAckReceived();
            break;
        }
        if (byte == NAK) m_host.LinkNoted(LinkHost::Note::NakReceived);
        if (++ackReplyCount >= 4) {
            ackReplyCount = 0;
            busy = 0;
            m_host.LinkGaveUp("no ACK", state);
            m_host.LinkFailed("no ACK");
            m_host.LinkErrorBox("Can't Receive Ack");
            state = LinkState::Idle;
        } else {
            m_host.LinkSetTimer(TIMER_ACK, kAckWaitShortMs);
            m_host.LinkNoted(LinkHost::Note::Resent);
            m_host.LinkWrite(frame.bytes, frame.length);
        }
        break;

    case LinkState::InFrame:
        if (byte == SOH) {
            // The frame so far is given up and shown before the new one is collected. A posted
            // hand-over (overflow, frame timer) may still be waiting to read the raw frame, so
            // it gets its bytes back once this one has been shown.
            uint8_t pending[kFrameCapacity];
            const uint16_t pendingLength = rawLength;
            std::memcpy(pending, raw, sizeof raw);
            CopyToRaw();
            m_host.LinkSendFrameRaw(rawLength);
            std::memcpy(raw, pending, sizeof raw);
            rawLength = pendingLength;
            m_host.LinkKillTimer(TIMER_FRAME);
            StartFrame();
            break;
        }
        rx[rxLength++] = byte;
        if (byte == ETX && rxLength < kFrameCapacity) {
            state = LinkState::AwaitBcc;
        } else if (rxLength >= kFrameCapacity) {
            // No room left for the rest of the frame (or for its BCC): hand it over raw, as when
            // its time runs out, and wait for the next SOH.
            m_host.LinkKillTimer(TIMER_FRAME);
            CopyToRaw();
            m_host.LinkGaveUp("cut off", state);
            state = LinkState::Idle;
            busy = 0;
            m_host.LinkFailed("cut off");
            m_host.LinkPostFrameRaw(rawLength);
        }
        break;

    case LinkState::AwaitBcc:
        m_host.LinkKillTimer(TIMER_FRAME);
        rx[rxLength++] = byte;  // AwaitBcc is entered only with room for one more byte
        state = LinkState::Idle;
        CheckFrame();
        break;
    }
}

void Link::CheckFrame() {
    if (Bcc(rx, rxLength) == 0) {
        m_host.LinkWrite(kAckByte, 1);
        busy = 0;
        nakCount = 0;
        m_host.LinkFrameReceived(rxLength);
        return;
    }
    if (++nakCount < 3) {
        m_host.LinkSetTimer(TIMER_FRAME, kFrameWaitAfterNakMs);
        m_host.LinkNoted(LinkHost::Note::NakSent);
        m_host.LinkWrite(kNakByte, 1);
    } else {
        nakCount = 0;
        busy = 0;
        m_host.LinkGaveUp("bad frames", LinkState::AwaitBcc);  // the frame's BCC was the last byte
        m_host.LinkFailed("bad frames");
        m_host.LinkErrorBox("Error Receive Frame");
    }
}

void Link::OnTimer(int id) {
    if (id == TIMER_ACK || id == TIMER_FRAME || id == TIMER_RESPONSE) m_host.LinkTimedOut(id, state);
    switch (id) {
    case TIMER_ACK:
        ++ackTimeoutCount;
        busy = 0;
        if (ackTimeoutCount > 3) {
            m_host.LinkGaveUp("no ACK", state);
            state = LinkState::Idle;
            m_host.LinkFailed("no ACK");
            m_host.LinkErrorBox("TimeOut : Receive Ack");
            ackTimeoutCount = 0;
        } else {
            ResendLastFrame();
        }
        break;
    case TIMER_FRAME:
        m_host.LinkGaveUp("cut off", state);
        CopyToRaw();
        m_host.LinkPostFrameRaw(rawLength);
        state = LinkState::Idle;
        // A cut-off answer ends the exchange; otherwise every guarded button would stay dead.
        busy = 0;
        m_host.LinkFailed("cut off");
        break;
    case TIMER_RESPONSE:
        m_host.LinkGaveUp("no answer", state);
        m_host.LinkFailed("no answer");
        m_host.LinkErrorBox("TimeOut : receive response");
        busy = 0;
        break;
    case TIMER_REPEAT:
        m_host.LinkRepeatTimer();
        break;
    default:
        break;
    }
}

}  // namespace kalvor
