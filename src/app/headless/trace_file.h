// The protocol trace for burn-in and diagnosis: one line per write and per received chunk, with
// milliseconds since the start and since the previous line, the direction, the bytes in
// hexadecimal and, for complete frames, a short decoding; between them, timed lines for the link's
// time-outs and give-ups, the boxes, the port and the script's actions. Flushed line by line.
//
//   12.345 +0.321 TX 04 50 02 46 03 13 | command F STATUS, BCC good
//   14.002 +1.657 RX 06 01 50 02 46 30 00 41 02 03 15 | ACK; answer F STATUS 10 bytes, BCC good
//   15.100 +1.098 RX 01 9C 3C | reject notice < (double)
// Every write is checked: the file's failure handler hears of the first one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "burnin/output_file.h"

namespace kalvor {

// A short name for a command or answer byte ("STATUS", "DISPENSE UPPER", ...).
const char* CommandName(uint8_t command);

class TraceFile {
public:
    explicit TraceFile(OutputFile& out);
    // The header: program and version, the wall-clock start, and the port line (device, baud,
    // parity, model) when a port is open.
    void Header(int64_t wallUs, const std::string& portLine);
    // A line of its own ("# ..."), e.g. when the port is opened again.
    void Note(const std::string& text);
    // A timed line of what happened beside the bytes, stamped as they are:
    //   2004.113 +2001.020 LINK time-out: ACK timer in AwaitAck
    //   8010.447 +0.051 BOX Error: TimeOut : Receive Ack
    // `tag` is LINK, BOX, PORT or SCRIPT; CR, LF and backslash in `text` are written escaped.
    void Event(const char* tag, const std::string& text);
    void Line(bool tx, const uint8_t* data, size_t length);

private:
    std::string Stamp(const char* tag);
    std::string DescribeTx(const uint8_t* data, size_t length) const;
    std::string DescribeRx(const uint8_t* data, size_t length);

    OutputFile& m_out;
    int64_t m_startUs;
    int64_t m_lastUs;
    // Reassembly of received frames across chunks, for the decoding only.
    uint8_t m_frame[128] = {};
    size_t m_length = 0;
    bool m_inFrame = false;
    bool m_awaitBcc = false;
};

}  // namespace kalvor
