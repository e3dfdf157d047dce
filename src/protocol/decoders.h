// The dispatcher and the decoders: every answer of the module becomes pane text, check boxes,
// edit texts or a box. They read the received frame in place and reach the dialog's values
// through DecoderTarget.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/pane_log.h"

namespace kalvor {

class DecoderTarget {
public:
    virtual ~DecoderTarget() = default;
    // UpdateData(TRUE) and UpdateData(FALSE).
    virtual void Pull() = 0;
    virtual void Push() = 0;
    virtual PaneLog& MessageText() = 0;   // edit 1003
    virtual PaneLog& StatusText() = 0;    // edit 1004
    virtual int& CheckMember(int controlId) = 0;          // bound check box / radio member
    virtual std::string& EditMember(int controlId) = 0;   // bound edit member
    virtual int Model() const = 0;             // 0 ZEDA1000, 1 ZEDA2000
    // Modal box with the stop icon; returns when closed.
    virtual void StopBox(const std::string& text, const char* caption) = 0;
    // The dispense answers 'E', 'U', 'V'.
    virtual void DecodeDispenseReply(uint16_t length) = 0;
    // A reject notice (01 9C reason) was shown, for recording; the marks are set already.
    virtual void RejectNoticeSeen(uint8_t /*reason*/) {}
};

// Runs the decoder for the good frame of `length` bytes in `frame` (121 bytes, zeroed past what
// was ever received), then the notice decoder when its ID byte is 0x9C.
void OnFrameReceived(DecoderTarget& t, const uint8_t* frame, uint16_t length);

// Shows an unfinished frame of n bytes as hexadecimal and picks a reject reason out of it.
void OnFrameRaw(DecoderTarget& t, const uint8_t* raw, uint16_t n);

// The error-code box for purge and divert answers: a box for 0x32-0x7F (codes without a text
// show "Unknown Error"); nothing below 0x32 or from 0x80 on.
void ErrorCodeBox(DecoderTarget& t, uint8_t code);

}  // namespace kalvor
