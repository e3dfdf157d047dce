#include "console/run_events.h"

#include <algorithm>
#include <chrono>

#include "console/dialog_host.h"

namespace kalvor {

const char* LinkTimerName(LinkTimer timer) {
    switch (timer) {
    case LinkTimer::Ack: return "ACK";
    case LinkTimer::Frame: return "frame";
    case LinkTimer::Response: return "response";
    }
    return "?";
}

const char* CycleEndName(CycleEnd how) {
    switch (how) {
    case CycleEnd::Answered: return "answered";
    case CycleEnd::ModuleError: return "module error";
    case CycleEnd::NoAck: return "no ACK";
    case CycleEnd::NoAnswer: return "no answer";
    case CycleEnd::BadFrames: return "bad frames";
    case CycleEnd::Replaced: return "replaced";
    case CycleEnd::PortLost: return "port lost";
    case CycleEnd::Interrupted: return "interrupted";
    case CycleEnd::PortNotOpen: return "port not open";
    }
    return "?";
}

const char* RunEndName(RunEnd how) {
    switch (how) {
    case RunEnd::Completed: return "completed";
    case RunEnd::ModuleError: return "module error";
    case RunEnd::Cancelled: return "cancelled";
    case RunEnd::LinkFailed: return "link failed";
    case RunEnd::Replaced: return "replaced";
    case RunEnd::PortLost: return "port lost";
    case RunEnd::Interrupted: return "interrupted";
    case RunEnd::PortNotOpen: return "port not open";
    }
    return "?";
}

BoxKind BoxKindOf(const std::string& text, const std::string& caption) {
    if (caption == "ERROR CODE") return BoxKind::ModuleError;
    if (caption == "WORNING") return BoxKind::Warning;
    if (caption == "comm Error!") return BoxKind::PortLost;
    if (caption != "Error") return BoxKind::Other;
    static const char* const kLink[] = {"TimeOut : Receive Ack", "Can't Receive Ack", "TimeOut : receive response",
                                        "Error Receive Frame"};
    for (const char* t : kLink)
        if (text == t) return BoxKind::LinkGiveUp;
    static const char* const kOpen[] = {"Can't open comport. init", "Can't open comport.", "Can't open comm port",
                                        "You have to open Comm Port"};
    for (const char* t : kOpen)
        if (text == t) return BoxKind::OpenFailed;
    // Every other "Error" box refuses a request of the dispense, port or calibration pages.
    return BoxKind::Refused;
}

RejectReason RejectReasonOf(uint8_t reasonByte) {
    // The same reading as the reject marks: '0' and '3' "Length", '<' "Double", '=' and '>' "Nearing".
    switch (reasonByte) {
    case '0':
    case '3': return RejectReason::Length;
    case '<': return RejectReason::Double;
    case '=':
    case '>': return RejectReason::Nearing;
    default: return RejectReason::Other;
    }
}

int64_t WallClockNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t DialogHost::WallClockUs() { return WallClockNowUs(); }

void RunEvents::Add(RunObserver* observer) {
    if (observer && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void RunEvents::Remove(RunObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

}  // namespace kalvor
