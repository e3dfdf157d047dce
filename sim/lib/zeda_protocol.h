// Wire format of the ZEDA dispenser module, seen from the module's side.
//
// The console sends command frames  EOT 'P' STX CMD data... ETX BCC  and the module answers each good one
// with a single ACK, later with a response frame  SOH ID STX CODE data... ETX BCC.  BCC is the exclusive OR
// of every byte before it. The console ends a response at its first ETX and starts a new one at every SOH,
// so no byte between SOH and ETX of a response may be 0x01 or 0x03.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zeda {

inline constexpr uint8_t kSoh = 0x01;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCommandId = 'P';   // second byte of every command frame
inline constexpr uint8_t kResponseId = 'P';  // second byte of every response frame of this module
inline constexpr uint8_t kNoticeId = 0x9C;   // second byte of a reject notice

// The console's stored command frame holds 30 bytes; nothing longer is ever a command.
inline constexpr std::size_t kMaxCommandFrame = 30;

using Bytes = std::vector<uint8_t>;

// Exclusive OR of `n` bytes.
uint8_t Xor(const uint8_t* data, std::size_t n);
inline uint8_t Xor(const Bytes& b) { return Xor(b.data(), b.size()); }

// The byte 0x30 + (v & 15).
inline uint8_t Nibble(unsigned v) { return static_cast<uint8_t>(0x30 + (v & 0x0F)); }
// Appends `digits` nibble digits of v, most significant first.
void AppendNibbles(Bytes& out, unsigned v, int digits);
// Appends v (0..99) as two ASCII decimal digits, tens first.
void AppendDecimal2(Bytes& out, unsigned v);
// The value of a nibble digit: its low four bits, as the console reads them.
inline unsigned NibbleValue(uint8_t b) { return b & 0x0Fu; }

// A byte that may stand between SOH and ETX of a response: 0x01 becomes 0x00 and 0x03 becomes 0x02 (the
// nearest value below that does not end or restart a frame); every other byte is returned unchanged.
uint8_t SafeDataByte(uint8_t b);

// Builds SOH id STX code data ETX BCC. Data bytes that would break the framing go through SafeDataByte.
Bytes BuildResponse(uint8_t code, const Bytes& data, uint8_t id = kResponseId);

// Builds EOT 'P' STX cmd data ETX BCC, as the console does (used by tests and tools).
Bytes BuildCommand(uint8_t cmd, const Bytes& data = {});

// The data lengths the console uses for a command byte; empty for a command this module does not know.
std::vector<std::size_t> CommandDataLengths(uint8_t cmd);
inline bool IsKnownCommand(uint8_t cmd) { return !CommandDataLengths(cmd).empty(); }

// Hex dump "04 50 02 46 03 13" for logs and messages.
std::string HexDump(const uint8_t* data, std::size_t n);
inline std::string HexDump(const Bytes& b) { return HexDump(b.data(), b.size()); }

// Collects command frames from the byte stream, one byte at a time.
//
// Bytes outside a frame are reported as stray bytes (the console's ACK and NAK replies arrive this way).
// A frame's end is found by its length: for a known command the ETX must stand where the console's frame
// for that command puts it (the data of command 0x80 may itself contain 0x03), and the byte after it must
// make the exclusive OR of the frame zero. For an unknown command the first ETX ends the frame.
class CommandParser {
public:
    enum class Kind { None, Frame, BadFrame, Stray };
    struct Event {
        Kind kind = Kind::None;
        uint8_t cmd = 0;     // Frame, BadFrame (when the command byte was seen)
        Bytes data;          // Frame: the data bytes between the command byte and ETX
        Bytes raw;           // Frame, BadFrame: every byte of the frame as received
        uint8_t byte = 0;    // Stray: the byte
    };

    // Takes the next byte. At most one event results from one byte; when a byte both ends a broken frame and
    // starts a new one (an EOT where the ETX should be), the broken frame is reported and the EOT kept.
    Event Feed(uint8_t b);

    // Called when no byte came for a while inside a frame: a frame that got as far as its command byte is
    // reported as bad, a bare header is dropped silently (kind None). Either way the parser is reset.
    Event Expire();

    bool InFrame() const { return !buf_.empty(); }
    void Reset();

private:
    Event StartOver(Event e, bool keepEot);

    Bytes buf_;
    bool pendingBcc_ = false;  // the last byte was an ETX where a frame may end
};

}  // namespace zeda
