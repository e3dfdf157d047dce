// The protocol trace for burn-in and diagnosis: one line per write and per received chunk, with
// milliseconds since the start and since the previous line, the direction, the bytes in
// hexadecimal and, for complete frames, a short decoding. Flushed line by line.
//
//   12.345 +0.321 TX 04 50 02 46 03 13 | command F STATUS, BCC good
//   14.002 +1.657 RX 06 01 50 02 46 30 00 41 02 03 15 | ACK; answer F STATUS 10 bytes, BCC good
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace kalvor {

// A short name for a command or answer byte ("STATUS", "DISPENSE UPPER", ...).
const char* CommandName(uint8_t command);

class TraceFile {
public:
    explicit TraceFile(std::ostream& out);
    void Line(bool tx, const uint8_t* data, size_t length);

private:
    std::string DescribeTx(const uint8_t* data, size_t length) const;
    std::string DescribeRx(const uint8_t* data, size_t length);

    std::ostream& m_out;
    int64_t m_startUs;
    int64_t m_lastUs;
    // Reassembly of received frames across chunks, for the decoding only.
    uint8_t m_frame[128] = {};
    size_t m_length = 0;
    bool m_inFrame = false;
    bool m_awaitBcc = false;
};

}  // namespace kalvor
