// Shared pieces of the fuzz targets: a reader over the fuzz input, the check that aborts with a
// message, the console harness that interprets a small bytecode against a TestConsole, and the
// writer that produces that bytecode (for the seed corpus).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "burnin/burn_in_recorder.h"
#include "burnin/session_tally.h"

#include "support/test_host.h"

namespace zeda {
class Module;
}

namespace kalvor::fuzz {

// Prints `what` with its place and aborts, so that libFuzzer (and the replay program) report the
// input as a crash.
[[noreturn]] void Fail(const char* file, int line, const std::string& what);

#define FUZZ_CHECK(cond, what)                                            \
    do {                                                                  \
        if (!(cond)) ::kalvor::fuzz::Fail(__FILE__, __LINE__, (what));    \
    } while (0)

// Reads the fuzz input front to back; past its end every read yields zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_pos >= m_size; }
    size_t Left() const { return m_pos < m_size ? m_size - m_pos : 0; }
    uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t U16() {
        const uint16_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    // Up to n bytes (fewer at the end of the input).
    test::Bytes Take(size_t n);

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Text for an edit: a length byte, then the bytes. Lengths from 200 up make a long text of
// (length - 199) KiB, repeating the next byte read: edits may be typed into without limit.
std::string ReadText(Reader& in);

// The bytecode of fuzz_console. The first byte of an input holds the start flags, then operations
// follow, each an opcode byte (taken modulo kOpCount) and its operands.
enum StartFlag : uint8_t {
    kNoCalibrationTabs = 1u << 0,  // only pages 0-3 (the calibration pages are there by default)
    kStartZeda2000 = 1u << 1,      // the model chosen at start, as with --simulate zeda2000
    kRecordResults = 1u << 2,      // results recorder on (written to /dev/null)
    kRememberedPort2 = 1u << 3,    // the profile remembers COM2
    kNoEvents = 1u << 4,           // the channel cannot be set up ("You have to open Comm Port")
    kPort1Fails = 1u << 5,         // COM1 cannot be opened
};

enum Op : uint8_t {
    kOpDeliver = 0,     // u8 n, u8 chunk, n+1 bytes: received in chunks of 1..80 bytes
    kOpAdvance = 1,     // u16 t: the virtual clock moves (timers fire)
    kOpClick = 2,       // u8 index into the control table: clicked if visible, enabled, clickable
    kOpType = 3,        // u8 index, text: typed into the edit if visible and enabled
    kOpTab = 4,         // u8: the tab selected, as a click on it
    kOpModel = 5,       // u8: bit 0 chooses ZEDA2000 (on the "MENU" page, as the operator does)
    kOpFrame = 6,       // u8 id choice, u8 command, u8 n, n data bytes, u8 chunk: a frame with a good BCC
    kOpBoxBytes = 7,    // u8 n, n bytes: received while the next box is open
    kOpNextTimer = 8,   // the clock moves to the next armed timer
    kOpAnswer = 9,      // u8 flags: the simulated module answers the last command written
    kOpCount = 10,
};

// Milliseconds of an advance operand: 0-40000 as they are, above that in steps of 8 ms (to 204 s).
int64_t AdvanceMs(uint16_t t);

// A TestConsole driven by the bytecode, with its invariants checked after every operation.
class ConsoleHarness {
public:
    explicit ConsoleHarness(uint8_t startFlags);
    ~ConsoleHarness();

    // Runs one operation; false when the input is used up.
    bool Step(Reader& in);
    // Aborts when an invariant is broken.
    void Check();

    test::TestConsole& Console() { return *m_console; }
    CConsoleDlg& Dlg() { return *m_console->dlg; }
    // The command frame written last (empty before the first).
    const test::Bytes& LastCommand() const { return m_lastCommand; }
    // Index of control `id` in the table, for writing operations.
    int IndexOf(int id) const;
    uint64_t Operations() const { return m_operations; }

private:
    void Deliver(const test::Bytes& bytes, size_t chunk);
    void Click(int index);
    void Answer(uint8_t flags);
    void CheckWrites();
    void CheckBoxes();

    void Trace(const char* op);

    bool m_trace = false;  // KALVOR_FUZZ_TRACE set: one line per operation on standard error
    // What listens to the console's run events in a session (results written to /dev/null).
    std::unique_ptr<BurnInRecorder> m_recorder;
    SessionTally m_tally;
    std::unique_ptr<test::TestConsole> m_console;
    std::unique_ptr<zeda::Module> m_module;
    test::Bytes m_boxBytes;
    test::Bytes m_lastCommand;
    size_t m_writesChecked = 0;
    uint64_t m_operations = 0;
};

// Writes the bytecode of fuzz_console, for seeds.
class OpWriter {
public:
    explicit OpWriter(uint8_t startFlags) { m_bytes.push_back(startFlags); }
    OpWriter& Deliver(const test::Bytes& b, size_t chunk = 80);
    OpWriter& Advance(int64_t ms);
    OpWriter& Click(int tableIndex);
    OpWriter& Type(int tableIndex, const std::string& text);
    OpWriter& Tab(int page);
    OpWriter& Model(int model);
    OpWriter& Frame(uint8_t id, uint8_t command, const test::Bytes& data, size_t chunk = 80);
    OpWriter& BoxBytes(const test::Bytes& b);
    OpWriter& NextTimer();
    OpWriter& Answer(bool withAck = true, size_t chunk = 80);
    const test::Bytes& Bytes() const { return m_bytes; }

private:
    test::Bytes m_bytes;
};

// Writes `bytes` to `path`; false on failure.
bool WriteFile(const std::string& path, const test::Bytes& bytes);

}  // namespace kalvor::fuzz
