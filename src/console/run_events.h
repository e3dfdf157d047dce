// Run events: what the console tells the parts around it that are not the dialog's own (the
// burn-in recorder, the exit accounting, the progress line, reconnect, the run chart). The
// dialog only emits them; it never includes what listens.
//
// Observers are called on the UI thread, synchronously, after the dialog has changed its own
// state and before it opens any box, so an observer sees a cycle end before the box about it.
// An observer must not call back into the dialog's handlers from an event, except where an
// event says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kalvor {

// The wall clock now, microseconds since 1970-01-01 UTC.
int64_t WallClockNowUs();

// When something happened: the host's monotonic clock in microseconds and the wall clock
// (microseconds since 1970-01-01 UTC).
struct RunTime {
    int64_t monoUs = 0;
    int64_t wallUs = 0;
};

// How a dispense cycle ended. The names are the CSV's `ended` values.
enum class CycleEnd : uint8_t {
    Answered,     // a good answer with result '1'
    ModuleError,  // a good answer with a module error code (box "ERROR CODE")
    NoAck,        // "Can't Receive Ack" or "TimeOut : Receive Ack"
    NoAnswer,     // "TimeOut : receive response"
    BadFrames,    // the answer came cut off, or "Error Receive Frame"
    Replaced,     // an unguarded command replaced the stored frame and was answered instead
    PortLost,     // the device went away while the cycle was outstanding
    Interrupted,  // the session was ended (signal) while the cycle was outstanding
    PortNotOpen,  // written while no port was open: the bench's fault, not the module's
};
constexpr int kCycleEndCount = static_cast<int>(CycleEnd::PortNotOpen) + 1;
const char* CycleEndName(CycleEnd how);

// Why a dispense run ended.
enum class RunEnd : uint8_t {
    Completed,    // every cycle asked for was answered
    ModuleError,  // an answer carried a module error code
    Cancelled,    // "Cancel" (the pause after the last answered cycle sends nothing more)
    LinkFailed,   // a cycle ended without a good answer
    Replaced,     // another command took the stored frame
    PortLost,
    Interrupted,
    PortNotOpen,  // its cycle was written while no port was open
};
const char* RunEndName(RunEnd how);

// What a box was about, for the exit accounting.
enum class BoxKind : uint8_t {
    ModuleError,  // "ERROR CODE"
    LinkGiveUp,   // the four boxes of the link
    Refused,      // an "Error" box that refused a request (dispense, port and calibration pages)
    OpenFailed,   // the port could not be opened ("Can't open comport. init", "Can't open comport.")
    PortLost,     // "Communication port lost"
    Warning,      // "WORNING"
    Other,
};

// The kind of a box from its text and caption.
BoxKind BoxKindOf(const std::string& text, const std::string& caption);

// What the link did within an exchange.
enum class LinkEvent : uint8_t {
    Resent,       // the stored frame was written again (a wrong reply byte or the ACK time-out)
    NakSent,      // the console answered a frame with a bad BCC with NAK
    NakReceived,  // the module answered the command with NAK
};

// The timers of the link whose running out is told.
enum class LinkTimer : uint8_t { Ack, Frame, Response };
const char* LinkTimerName(LinkTimer timer);  // "ACK", "frame", "response"

// A reject notice (01 9C reason) and its reason byte as the reject marks read it.
enum class RejectReason : uint8_t { Double, Length, Nearing, Other };
RejectReason RejectReasonOf(uint8_t reasonByte);

struct CycleRequest {
    char command = 0;          // 'E' upper, 'U' lower, 'V' both
    char upper[2] = {0, 0};    // the count digits as sent; zero bytes when the cassette is not asked
    char lower[2] = {0, 0};
    unsigned repeat = 0;       // the run's repeat count
    unsigned index = 0;        // 1 for the run's first cycle
};

struct CycleAnswer {
    int dispensed = 0;         // of the answer, both cassettes
    int rejected = 0;
    int upperDispensed = -1;   // -1 where the answer has no such count
    int lowerDispensed = -1;
    int upperRejected = -1;
    int lowerRejected = -1;
    uint8_t resultCode = 0;    // '1' for success
    std::string resultText;    // "OK" or the error-code text
    char upperEmpty = 0;       // the indicator bytes as received, 0 when the answer has none
    char lowerEmpty = 0;
    bool moduleError = false;
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void OnRunStarted(const RunTime&, unsigned /*repeatCount*/) {}
    virtual void OnCycleWritten(const RunTime&, const CycleRequest&) {}
    virtual void OnCycleAck(const RunTime&) {}
    virtual void OnCycleAnswered(const RunTime&, const CycleAnswer&) {}
    virtual void OnCycleFailed(const RunTime&, CycleEnd /*how*/) {}
    virtual void OnRunEnded(const RunTime&, RunEnd /*how*/) {}
    // Link events and reject notices at any time; a recorder counts those inside a cycle.
    virtual void OnLinkEvent(const RunTime&, LinkEvent) {}
    virtual void OnRejectNotice(const RunTime&, RejectReason, uint8_t /*reasonByte*/) {}
    // A timer of the link ran out, and the link gave an exchange up ("no ACK", "no answer", "bad
    // frames", "cut off"), at any time; `state` is the link's then ("AwaitAck", "Idle", ...).
    virtual void OnLinkTimeOut(const RunTime&, LinkTimer, const char* /*state*/) {}
    virtual void OnLinkGaveUp(const RunTime&, const char* /*how*/, const char* /*state*/) {}
    // The port: opened (at start, by "OK" on "SETUP", or again by a reconnect), could not be
    // opened, or went away.
    virtual void OnPortOpened(const RunTime&, int /*port*/, const std::string& /*device*/) {}
    // `reason` is the Message pane's line about it, without its line end: "COM1 (/dev/ttyUSB0):
    // Device or resource busy - in use by minicom (pid 42)".
    virtual void OnPortOpenFailed(const RunTime&, int /*port*/, const std::string& /*device*/,
                                  const std::string& /*reason*/) {}
    virtual void OnPortLost(const RunTime&, int /*port*/, const std::string& /*device*/) {}
    // Every box the console shows, before it is shown.
    virtual void OnBox(const RunTime&, const std::string& /*text*/, const std::string& /*caption*/, BoxKind) {}
};

// The dialog's list of observers; events go to them in the order they were added.
class RunEvents {
public:
    void Add(RunObserver* observer);
    void Remove(RunObserver* observer);
    bool Empty() const { return m_observers.empty(); }

    template <typename Fn>
    void Each(Fn&& fn) const {
        // A copy: an observer may remove itself from an event.
        const std::vector<RunObserver*> list = m_observers;
        for (RunObserver* o : list) fn(*o);
    }

private:
    std::vector<RunObserver*> m_observers;
};

}  // namespace kalvor
