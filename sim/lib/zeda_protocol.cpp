#include "zeda_protocol.h"

#include <algorithm>
#include <cstdio>

namespace zeda {

uint8_t Xor(const uint8_t* data, std::size_t n) {
    uint8_t x = 0;
    for (std::size_t i = 0; i < n; ++i) x ^= data[i];
    return x;
}

void AppendNibbles(Bytes& out, unsigned v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out.push_back(Nibble(v >> (4 * i)));
}

void AppendDecimal2(Bytes& out, unsigned v) {
    v %= 100;
    out.push_back(static_cast<uint8_t>('0' + v / 10));
    out.push_back(static_cast<uint8_t>('0' + v % 10));
}

uint8_t SafeDataByte(uint8_t b) {
    if (b == kSoh) return 0x00;
    if (b == kEtx) return 0x02;
    return b;
}

Bytes BuildResponse(uint8_t code, const Bytes& data, uint8_t id) {
    Bytes f;
    f.reserve(data.size() + 6);
    f.push_back(kSoh);
    f.push_back(SafeDataByte(id));
    f.push_back(kStx);
    f.push_back(SafeDataByte(code));
    for (uint8_t b : data) f.push_back(SafeDataByte(b));
    f.push_back(kEtx);
    f.push_back(Xor(f));
    return f;
}

Bytes BuildCommand(uint8_t cmd, const Bytes& data) {
    Bytes f;
    f.reserve(data.size() + 6);
    for (uint8_t b : {kEot, kCommandId, kStx, cmd}) f.push_back(b);
    for (uint8_t b : data) f.push_back(b);
    f.push_back(kEtx);
    f.push_back(Xor(f));
    return f;
}

std::vector<std::size_t> CommandDataLengths(uint8_t cmd) {
    switch (cmd) {
    case 'E':
    case 'U':
        return {2};
    case 'V':
        return {4};
    case 0x80:
        // 0x15 and the calibration record; the one-cassette "Notes Init" frames are two bytes shorter.
        return {17, 19};
    case 'D': case 'F': case 'G': case 0x60: case 'b': case 'g': case 'h': case 'i': case 'j': case 'k':
    case 'l': case 'm': case 'n': case 'p': case 'q': case 'r': case 's': case 'u': case 'v': case 'w':
    case 0x81: case 0x82:
        return {0};
    default:
        return {};
    }
}

std::string HexDump(const uint8_t* data, std::size_t n) {
    std::string s;
    s.reserve(n * 3);
    char tmp[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(tmp, sizeof tmp, "%02X", data[i]);
        if (i) s += ' ';
        s += tmp;
    }
    return s;
}

void CommandParser::Reset() {
    buf_.clear();
    pendingBcc_ = false;
}

CommandParser::Event CommandParser::StartOver(Event e, bool keepEot) {
    Reset();
    if (keepEot) buf_.push_back(kEot);
    return e;
}

CommandParser::Event CommandParser::Feed(uint8_t b) {
    Event e;
    if (buf_.empty()) {
        if (b == kEot) {
            buf_.push_back(b);
            return e;
        }
        e.kind = Kind::Stray;
        e.byte = b;
        return e;
    }

    const std::size_t pos = buf_.size();
    if (pos == 1 || pos == 2) {
        if (b == (pos == 1 ? kCommandId : kStx)) {
            buf_.push_back(b);
            return e;
        }
        // Not a command frame after all. An EOT may begin the real one.
        if (b == kEot) return StartOver(e, true);
        e.kind = Kind::Stray;
        e.byte = b;
        return StartOver(e, false);
    }
    if (pos == 3) {
        buf_.push_back(b);
        return e;
    }

    const uint8_t cmd = buf_[3];
    const std::vector<std::size_t> lens = CommandDataLengths(cmd);
    const std::size_t maxLen = lens.empty() ? 0 : *std::max_element(lens.begin(), lens.end());
    buf_.push_back(b);

    if (pendingBcc_) {
        pendingBcc_ = false;
        if (Xor(buf_) == 0) {
            e.kind = Kind::Frame;
            e.cmd = cmd;
            e.data.assign(buf_.begin() + 4, buf_.end() - 2);
            e.raw = buf_;
            return StartOver(e, false);
        }
        const std::size_t dataLen = buf_.size() - 6;
        if (lens.empty() || dataLen >= maxLen) {
            e.kind = Kind::BadFrame;
            e.cmd = cmd;
            e.raw = buf_;
            return StartOver(e, false);
        }
        // The ETX was a data byte of a longer frame, and so is this byte: go on below.
    }

    const std::size_t before = buf_.size() - 5;  // data bytes ahead of this one
    const bool endAllowed = lens.empty() || std::find(lens.begin(), lens.end(), before) != lens.end();
    if (b == kEtx && endAllowed) {
        pendingBcc_ = true;
        return e;
    }
    if ((!lens.empty() && before >= maxLen) || buf_.size() >= kMaxCommandFrame) {
        // This byte should have been the ETX. An EOT here most likely starts the next frame.
        e.kind = Kind::BadFrame;
        e.cmd = cmd;
        e.raw = buf_;
        if (b == kEot) {
            e.raw.pop_back();
            return StartOver(e, true);
        }
        return StartOver(e, false);
    }
    return e;
}

CommandParser::Event CommandParser::Expire() {
    Event e;
    if (buf_.size() >= 4) {
        e.kind = Kind::BadFrame;
        e.cmd = buf_[3];
        e.raw = buf_;
    }
    Reset();
    return e;
}

}  // namespace zeda
