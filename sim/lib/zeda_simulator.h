// The ZEDA1000 / ZEDA2000 dispenser module, simulated on a serial line or a pseudo-terminal.
//
// A Simulator plays the module's part of the handshake on an open descriptor:
//   console  EOT 'P' STX CMD data ETX BCC      module  ACK (0x06), or NAK (0x15) for a wrong BCC
//            ...mechanical / processing time...
//   module   SOH 'P' STX CODE data ETX BCC     console ACK, or NAK (the module sends the same answer again,
//                                                       at most twice)
// It answers every command of the console's catalogue with the layouts the console decodes, keeps the notes
// of one or two cassettes, the reject tray and the calibration record, and can inject line faults, drawn
// from a seeded std::mt19937 so that a run is reproducible.
//
// Reject notices. While a dispense is under way every rejected note is announced by the three bytes
//   SOH 0x9C reason
// and nothing more: an unfinished frame. The console gives such a fragment up when the next SOH arrives
// (the next notice or the answer) or when its 150 ms frame timer runs out, shows it raw, and takes the byte
// after 0x9C as the reject reason: '0' or '3' = length, '<' = double note, '=' or '>' = nearing. A complete
// frame with ID 0x9C would only be printed as a notice line and would never set the reason marks, so the
// module never sends one.
//
// Choices where the console leaves the module free:
// - Responses carry 'P' as their ID byte.
// - A good frame with a command byte the module does not know is answered with NAK, like a broken frame.
// - A command that arrives while the module is still busy with the previous one is acknowledged and queued
//   (at most four); it is answered after the current one. A fifth is answered with NAK.
// - The RAM test ('u') is answered with code 't' and '0' (memory OK).
// - Purge ('D') answers '0'; it clears the last error and empties the reject tray.
// - Commands for the lower cassette on a ZEDA1000 ('U', 'V', 'j', 'n', 'w') are answered with error 0x46
//   "LOWER CASHBOX NOT" (for 'V' nothing is dispensed from either cassette); 'h' and 'l', whose answers
//   have no code byte, report zero readings.
// - Data bytes that would end or restart a frame are never sent: a status byte whose value would be 0x01
//   or 0x03 gets bit 7 set (the console does not read bit 7), and bytes of the stored calibration record
//   that are 0x01 or 0x03 go out as 0x00 and 0x02 in the answers to 0x80 and 0x81 (the record itself keeps
//   the value received).
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace zeda {

// A chosen dispense cycle (1 = the first dispense command the module executes) answered with `code`.
struct ErrorAt {
    unsigned cycle = 0;
    uint8_t code = 0;
};

// Line and module faults. Each probability (0..1) is drawn once per occasion.
struct FaultOptions {
    double dropAck = 0;      // per good command: send nothing instead of the ACK (the command is not taken)
    double nakAck = 0;       // per good command: NAK instead of the ACK (not taken)
    double noiseAck = 0;     // per good command: one noise byte instead of the ACK (not taken)
    double corruptBcc = 0;   // per transmission of a response: wrong BCC
    double cutResponse = 0;  // per transmission of a response: only a leading part of it, never its ETX
    double late = 0;         // per response: answered lateMs later than the work takes
    double noAnswer = 0;     // per response: acknowledged and performed, but never answered
    double noise = 0;        // per response: one to three noise bytes (never SOH or ACK) just before it
    unsigned lateMs = 3000;
    std::vector<ErrorAt> errorAt;
};

enum class FaultKind : int {
    DropAck,
    NakAck,
    NoiseAck,
    CorruptBcc,
    CutResponse,
    Late,
    NoAnswer,
    Noise,
    ErrorAt,
    Count
};
inline constexpr int kFaultKinds = static_cast<int>(FaultKind::Count);
// The option name of a fault kind ("drop-ack", "corrupt-bcc", ...).
const char* FaultName(FaultKind k);

struct SimOptions {
    int model = 2000;                // 1000: one cassette (upper); 2000: upper and lower
    unsigned baud = 9600;            // for line pacing and for serving a real serial device
    char parity = 'N';               // 'N', 'E' or 'O'
    unsigned notesUpper = 2000;      // notes in the cassettes at start
    unsigned notesLower = 2000;
    bool upperPresent = true;        // cassettes inserted
    bool lowerPresent = true;
    unsigned nearEnd = 50;           // a cassette with this many notes or fewer reports near-end
    double rejectRate = 0.01;        // probability that a picked note is rejected (below the report's 2 % limit)
    unsigned maxRejects = 10;        // more rejects than this in one dispense stop it with 0x44 OVER REJECT
    unsigned mechMs = 300;           // mechanical time of a dispense (and of the other mechanical commands)
    unsigned perNoteMs = 120;        // added per note picked
    unsigned processMs = 20;         // time to answer a command that moves nothing
    double timeScale = 1.0;          // multiplies mechMs, perNoteMs and processMs (0 = answer at once)
    uint32_t seed = 1;
    bool pacing = true;              // send at line speed: 10 bit times per byte, 11 with parity
    unsigned ackWaitMs = 1500;       // how long an answer waits for the console's ACK or NAK
    unsigned frameGapMs = 200;       // a command frame that stalls this long is given up
    int averageCassette = -1;        // cassette named in the 0x82 answer: -1 alternate, 0 upper, 1 lower
    unsigned rvdtAverageUpper = 0x1F4;
    unsigned rvdtAverageLower = 0x1EA;
    unsigned dipSwitches = 0x00;
    std::string romVersion;          // 4 characters; empty: "1.07" for the ZEDA1000, "2.07" for the ZEDA2000
    FaultOptions faults;
    std::ostream* log = nullptr;     // when set: every byte and event, one line each (the caller's stream)
};

// Empty when the options are usable, else what is wrong with them.
std::string ValidateOptions(const SimOptions& o);

struct SimCounters {
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    uint64_t framesReceived = 0;        // command frames, good and bad
    uint64_t goodFrames = 0;            // correct BCC (unknown commands included)
    uint64_t badFrames = 0;             // wrong BCC or broken layout: answered with NAK
    uint64_t unknownCommands = 0;       // good frames with a command byte the module does not know
    uint64_t strayBytes = 0;            // bytes outside any frame other than ACK and NAK
    uint64_t acksReceived = 0;          // ACK bytes from the console, wherever they came
    uint64_t naksReceived = 0;
    uint64_t acksSent = 0;
    uint64_t naksSent = 0;
    uint64_t commandsExecuted = 0;
    uint64_t responsesSent = 0;         // answers sent (first transmissions)
    uint64_t responsesResent = 0;       // transmissions after a NAK of the console
    uint64_t responsesAcknowledged = 0;
    uint64_t responsesAbandoned = 0;    // no ACK in time, a third NAK, or the console moved on
    uint64_t noticesSent = 0;
    uint64_t dispenseCycles = 0;        // dispense commands executed
    uint64_t notesDispensed = 0;        // in dispense answers the console acknowledged
    uint64_t notesRejected = 0;         // in dispense answers the console acknowledged
    uint64_t hangups = 0;               // times the other side closed the line
    std::array<uint64_t, kFaultKinds> faults{};

    uint64_t Fault(FaultKind k) const { return faults[static_cast<int>(k)]; }
};

struct ModuleState {
    int model = 2000;
    unsigned notesUpper = 0;
    unsigned notesLower = 0;
    bool upperPresent = true;
    bool lowerPresent = true;
    unsigned rejectTray = 0;     // notes lying in the reject tray
    unsigned dispenseCycles = 0;
    uint8_t lastError = 0;       // code of the last failed operation, 0 after a success or a purge
    std::vector<uint8_t> calibration;  // the stored 18-byte calibration record
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Plays the module on `fd` (a pty master or a serial device, switched to non-blocking) until Stop().
    // The other side may close and reopen the line any number of times; while it is closed the loop sleeps
    // about 10 ms between looks. Returns 0 after Stop(), -1 when fd cannot be used. After Stop() every
    // later call returns at once.
    int Serve(int fd);

    // Ends Serve from any thread, or from a signal handler (it only stores a flag and writes one byte to a
    // pipe).
    void Stop();
    bool StopRequested() const;

    SimCounters Counters() const;  // a consistent snapshot, any thread, any time
    ModuleState State() const;     // likewise
    const SimOptions& Options() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Creates a pseudo-terminal: the master (returned non-blocking and close-on-exec) for Serve, the slave's
// path for the console. Both sides are raw, 8 data bits, so no byte is translated. False on failure.
bool OpenPtyPair(int& masterFd, std::string& slavePath);

// Puts an open serial device into raw mode with the given speed and parity, 8 data bits, one stop bit, no
// flow control, modem lines ignored. False (and a reason in *error) on failure.
bool ConfigureSerial(int fd, unsigned baud, char parity, std::string* error = nullptr);

// Opens and configures a serial device for Serve. Returns the descriptor, or -1 with a reason in *error.
int OpenSerialDevice(const std::string& path, unsigned baud, char parity, std::string* error = nullptr);

// The counters and the cassettes as a few lines of text ("frames received 12", ...).
std::string FormatCounters(const SimCounters& c, const ModuleState& s);

}  // namespace zeda
