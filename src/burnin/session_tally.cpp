#include "burnin/session_tally.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "protocol/error_codes.h"

namespace kalvor {

namespace {

std::string Count(unsigned n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Times(unsigned n) {
    if (n == 1) return "once";
    if (n == 2) return "twice";
    return std::to_string(n) + " times";
}

}  // namespace

void SessionTally::OnCycleAnswered(const RunTime&, const CycleAnswer& answer) {
    ++m_cycles;
    m_cutOffPending = false;
    m_pendingCode = answer.moduleError ? answer.resultCode : -1;
}

void SessionTally::OnCycleFailed(const RunTime&, CycleEnd how) {
    ++m_cycles;
    if (how == CycleEnd::PortNotOpen) ++m_notOpenCycles;
    // A cycle whose answer came cut off ended the run: a give-up of the link even without a box.
    // When the link then shows "Error Receive Frame" for the same frames, that box is this one.
    m_cutOffPending = how == CycleEnd::BadFrames;
    if (m_cutOffPending) ++m_linkGiveUps;
}

void SessionTally::OnPortOpened(const RunTime&, int, const std::string&) { m_portEverOpened = m_portOpen = true; }

void SessionTally::OnPortOpenFailed(const RunTime&, int, const std::string&, const std::string&) {
    ++m_openFailures;
    m_portOpen = false;
}

void SessionTally::OnPortLost(const RunTime&, int, const std::string&) {
    ++m_portLost;
    m_portOpen = false;
}

void SessionTally::OnBox(const RunTime&, const std::string& text, const std::string&, BoxKind kind) {
    const bool sameGiveUp = m_cutOffPending && text == "Error Receive Frame";
    m_cutOffPending = false;
    switch (kind) {
    case BoxKind::ModuleError: {
        // The code of the cycle's answer; a box of another answer (purge, divert) by its text.
        int code = m_pendingCode;
        for (int c = 0; code < 0 && c < 256; ++c)
            if (ErrorCodeText(static_cast<uint8_t>(c)) == text) {
                code = c;
                break;
            }
        m_moduleCodes.push_back(code);
        m_pendingCode = -1;
        break;
    }
    case BoxKind::LinkGiveUp:
        if (!m_portOpen) ++m_notOpenGiveUps;
        else if (!sameGiveUp) ++m_linkGiveUps;
        break;
    case BoxKind::Refused: ++m_refused; break;
    default: break;  // open failures and the lost port are counted by their own events
    }
}

void SessionTally::FileFailed(const std::string& what) { m_filesFailed.push_back(what); }

bool SessionTally::BenchFailed() const {
    return m_openFailures > 0 || m_portLost > 0 || m_notOpenCycles > 0 || m_notOpenGiveUps > 0 || m_refused > 0 ||
           !m_filesFailed.empty();
}

int SessionTally::ExitStatus() const {
    // A script error never hides what the module or the bench did.
    if (m_signal > 0) return 128 + m_signal;
    if (BenchFailed()) return kExitBenchFailed;
    const bool module = !m_moduleCodes.empty();
    const bool link = m_linkGiveUps > 0;
    if (module || link) return module && link ? kExitBoth : module ? kExitModuleError : kExitLinkGiveUp;
    return m_scriptError ? kExitScriptError : kExitOk;
}

std::string SessionTally::Line() const {
    std::string line = "kalvor-tp: " + Count(m_cycles, "cycle", "cycles") + ", " +
                       Count(ModuleErrors(), "module error", "module errors");
    if (!m_moduleCodes.empty()) {
        line += " (";
        for (size_t i = 0; i < m_moduleCodes.size(); ++i) {
            char code[8];
            std::snprintf(code, sizeof code, "%02X", m_moduleCodes[i] & 0xFF);
            line += (i ? ", " : "") + std::string(m_moduleCodes[i] < 0 ? "?" : code);
        }
        line += ")";
    }
    line += ", " + Count(m_linkGiveUps, "link give-up", "link give-ups");
    if (m_openFailures > 0)
        line += m_portEverOpened ? ", port could not be opened " + Times(m_openFailures) : ", port not opened";
    if (m_portLost > 0) line += ", port lost " + Times(m_portLost);
    if (m_notOpenCycles > 0) line += ", " + Count(m_notOpenCycles, "cycle", "cycles") + " written with no port open";
    if (m_refused > 0) line += ", " + Count(m_refused, "request refused", "requests refused");
    for (const std::string& f : m_filesFailed) line += ", " + f + " not written";
    if (m_scriptError) line += ", script error";
    if (m_signal > 0) {
        const char* name = m_signal == SIGINT ? "SIGINT" : m_signal == SIGTERM ? "SIGTERM" : m_signal == SIGHUP ? "SIGHUP" : nullptr;
        line += ", interrupted by " + (name ? std::string(name) : "signal " + std::to_string(m_signal));
    }
    return line + " (exit " + std::to_string(ExitStatus()) + ")";
}

}  // namespace kalvor
