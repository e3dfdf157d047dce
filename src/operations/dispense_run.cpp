// The dispense run: validate the request, send 'E', 'U' or 'V', decode each answer into the
// run's totals, and send the same frame again 500 ms after each successful answer until the
// wanted number of cycles has been answered, the module reports an error, or "Cancel".
#include <cstdio>

#include "console/console_dlg.h"
#include "protocol/error_codes.h"

namespace kalvor {

namespace {

int Digit(uint8_t b) { return b & 0x0F; }
int Pair(const uint8_t* f, int p) { return Digit(f[p]) * 10 + Digit(f[p + 1]); }

std::string Decimal(unsigned v) { return std::to_string(v); }

// The record of a dispense answer, for what listens to the run: the same counts the totals take,
// split by cassette.
CycleAnswer DispenseAnswerOf(const uint8_t* f, uint16_t length) {
    CycleAnswer a;
    const uint8_t command = f[3];
    if (length == 14) {
        a.resultCode = f[8];
        const int dispensed = Pair(f, 6), rejected = Pair(f, 10);
        if (command == cmd::DispenseLower) a.lowerDispensed = dispensed, a.lowerRejected = rejected;
        else a.upperDispensed = dispensed, a.upperRejected = rejected;
        a.dispensed = dispensed;
        a.rejected = rejected;
    } else if (length == 21) {
        a.resultCode = f[12];
        a.upperDispensed = Pair(f, 6);
        a.lowerDispensed = Pair(f, 10);
        a.upperRejected = Pair(f, 15);
        a.lowerRejected = Pair(f, 17);
        a.dispensed = a.upperDispensed + a.lowerDispensed;
        a.rejected = a.upperRejected + a.lowerRejected;
    }
    if (length == 14 || length == 21) {
        a.moduleError = a.resultCode != '1';
        a.resultText = a.moduleError ? ErrorCodeText(a.resultCode) : "OK";
    }
    if (command == cmd::DispenseUpper) a.upperEmpty = static_cast<char>(f[9]);
    if (command == cmd::DispenseLower) a.lowerEmpty = static_cast<char>(f[9]);
    if (command == cmd::DispenseBoth) {
        a.upperEmpty = static_cast<char>(f[13]);
        a.lowerEmpty = static_cast<char>(f[14]);
    }
    return a;
}

}  // namespace

void CConsoleDlg::OnOkOrDispense() {
    UpdateData(true);
    m_strStatus.clear();
    UpdateData(false);
    if (m_nCurrentPage == 2) ApplyPortSettings();
    if (m_link.busy) return;
    if (m_nCurrentPage == 1) StartDispense();
}

void CConsoleDlg::StartDispense() {
    m_nCassette = 0;
    if (m_bUpper) m_nCassette = 1;
    if (m_bLower) m_nCassette |= 2;

    ReadRequestCounts();
    if (m_nValidation) {
        ErrorBox("Request Condition Error");
        return;
    }
    ReadRepeatCount();
    if (m_nValidation) {
        ErrorBox("Repeat Count Error");
        return;
    }
    UpdateData(true);
    m_bDouble = m_bNearing = m_bLength = 0;
    UpdateData(false);
    m_nRejectedTotal = 0;
    EndRun(RunEnd::Replaced);  // a run still pausing is replaced by this one
    m_runActive = true;
    m_cancelRequested = false;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnRunStarted(now, m_nRepeat); });
    SendDispenseFrame();
    SetTimer(TIMER_ACK, kAckWaitShortMs);
    KillTimer(TIMER_REPEAT);
}

void CConsoleDlg::ReadRequestCounts() {
    m_nValidation = 0;
    auto take = [this](const std::string& text, char* digits) {
        if (text.size() > 2) {
            AppendStatus("Upper Dispense Count Error");
            m_nValidation = 1;
            return false;
        }
        digits[0] = text.size() == 2 ? text[0] : '0';
        digits[1] = text.size() == 2 ? text[1] : (text.size() == 1 ? text[0] : '0');
        return true;
    };
    if ((m_nCassette & 1) && !take(m_strUpperRequest, m_upperDigits)) return;
    if ((m_nCassette & 2) && !take(m_strLowerRequest, m_lowerDigits)) return;

    auto over = [this](const char* digits) {
        const int value = Digit(static_cast<uint8_t>(digits[0])) * 10 + Digit(static_cast<uint8_t>(digits[1]));
        if (value <= 60) return false;
        m_nValidation = 1;
        AppendStatus(std::string(digits, 2));
        return true;
    };
    if ((m_nCassette & 1) && over(m_upperDigits)) return;
    if ((m_nCassette & 2) && over(m_lowerDigits)) return;
    if (m_nCassette == 0) m_nValidation = 1;
}

void CConsoleDlg::ReadRepeatCount() {
    m_nValidation = 0;
    const std::string& text = m_strRepeat;
    if (text.empty() || text.size() > 3) {
        AppendStatus("Upper Dispense Count Error");
        m_nValidation = 1;
        return;
    }
    unsigned value = 0;
    for (char c : text) value = value * 10 + Digit(static_cast<uint8_t>(c));
    m_nRepeat = static_cast<uint16_t>(value);
}

void CConsoleDlg::StampSendTime() {
    // Every cycle's write is stamped on the monotonic clock, so the response time is defined
    // even when "Rsp Time" is ticked after the write, and never goes negative across midnight.
    m_sendStampMs = m_host.MonotonicMs();
    m_haveSendStamp = true;
}

void CConsoleDlg::SendDispenseFrame() {
    m_nExecuted = 0;
    m_nDispensedTotal = 0;
    uint8_t data[4];
    switch (m_nCassette) {
    case 1:
        data[0] = static_cast<uint8_t>(m_upperDigits[0]);
        data[1] = static_cast<uint8_t>(m_upperDigits[1]);
        m_link.frame.Build(cmd::DispenseUpper, data, 2);
        break;
    case 2:
        data[0] = static_cast<uint8_t>(m_lowerDigits[0]);
        data[1] = static_cast<uint8_t>(m_lowerDigits[1]);
        m_link.frame.Build(cmd::DispenseLower, data, 2);
        break;
    default:
        data[0] = static_cast<uint8_t>(m_upperDigits[0]);
        data[1] = static_cast<uint8_t>(m_upperDigits[1]);
        data[2] = static_cast<uint8_t>(m_lowerDigits[0]);
        data[3] = static_cast<uint8_t>(m_lowerDigits[1]);
        m_link.frame.Build(cmd::DispenseBoth, data, 4);
        break;
    }
    LinkWrite(m_link.frame.bytes, m_link.frame.length);
    StampSendTime();
    m_cycleOutstanding = true;
    CycleWritten();
    m_link.state = LinkState::AwaitAck;
    m_link.busy = 1;
    UpdateData(true);
    m_strRjtCount = "0";
    m_strTotal = "0";
    m_strExecuted = "0";
    UpdateData(false);
}

void CConsoleDlg::SendNextCycle() {
    if (m_nRepeat <= m_nExecuted) {
        EndRun(m_cancelRequested ? RunEnd::Cancelled : RunEnd::Completed);
        return;
    }
    StampSendTime();
    m_link.SendNextCycleFrame();
    // Another command sent during the pause replaced the stored frame: that frame went out
    // instead of a cycle, and its answer goes to its own decoder, which arms no further cycle.
    const uint8_t command = m_link.frame.bytes[3];
    if (command != cmd::DispenseUpper && command != cmd::DispenseLower && command != cmd::DispenseBoth) {
        EndRun(RunEnd::Replaced);
        return;
    }
    m_cycleOutstanding = true;
    m_runActive = true;  // the run goes on, even after a cycle whose answer came late
    CycleWritten();
}

void CConsoleDlg::CycleWritten() {
    CycleRequest r;
    r.command = static_cast<char>(m_link.frame.bytes[3]);
    if (r.command != cmd::DispenseLower) r.upper[0] = m_upperDigits[0], r.upper[1] = m_upperDigits[1];
    if (r.command != cmd::DispenseUpper) r.lower[0] = m_lowerDigits[0], r.lower[1] = m_lowerDigits[1];
    r.repeat = m_nRepeat;
    r.index = static_cast<unsigned>(m_nExecuted) + 1;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnCycleWritten(now, r); });
}

void CConsoleDlg::OnCancelRepeat() {
    m_nRepeat = 0;
    if (m_runActive) m_cancelRequested = true;
}

void CConsoleDlg::DecodeDispenseReply(uint16_t length) {
    const uint8_t* f = m_link.rx;
    const uint8_t command = f[3];
    // "Rsp Time" as it is ticked now: the operator may have ticked it after the cycle was
    // written, and nothing has pulled the check boxes since.
    UpdateData(true);
    const bool timed = m_bRspTime != 0;
    const int64_t answerMs = timed ? m_host.MonotonicMs() : 0;
    // The cycle's end is told before any box about it.
    if (m_cycleOutstanding) {
        m_cycleOutstanding = false;
        const CycleAnswer answer = DispenseAnswerOf(f, length);
        const RunTime now = Now();
        m_events.Each([&](RunObserver& o) { o.OnCycleAnswered(now, answer); });
    }

    auto empty = [](int& box, uint8_t indicator) {
        if (indicator == '1') box = 1;
        else if (indicator == '0') box = 0;
    };
    UpdateData(true);
    if (command == cmd::DispenseUpper) empty(m_bUpperEmpty, f[9]);
    if (command == cmd::DispenseLower) empty(m_bLowerEmpty, f[9]);
    if (command == cmd::DispenseBoth) {
        empty(m_bUpperEmpty, f[13]);
        empty(m_bLowerEmpty, f[14]);
    }
    UpdateData(false);

    UpdateData(true);
    bool dump = false;
    bool nextArmed = false;
    unsigned dispensed = 0, rejected = 0;
    if (length == 14 && f[8] != '1') {
        m_nRepeat = 0;
        StopBox(ErrorCodeText(f[8]), "ERROR CODE");
        dump = true;
    } else if (length == 21 && f[12] != '1') {
        m_nRepeat = 0;
        StopBox(ErrorCodeText(f[12]), "ERROR CODE");
        dump = true;
    } else if (m_nRepeat > m_nExecuted) {
        SetTimer(TIMER_REPEAT, kRepeatPauseMs);
        nextArmed = true;
    }
    if (length == 14) {
        dispensed = Pair(f, 6);
        rejected = Pair(f, 10);
    } else if (length == 21) {
        dispensed = Pair(f, 6) + Pair(f, 10);
        rejected = Pair(f, 15) + Pair(f, 17);
    }
    m_nDispensedTotal = static_cast<uint16_t>(m_nDispensedTotal + dispensed);
    m_strTotal = Decimal(m_nDispensedTotal);
    m_nRejectedTotal = static_cast<uint16_t>(m_nRejectedTotal + rejected);
    m_strRjtCount = Decimal(m_nRejectedTotal);

    if (timed && m_haveSendStamp) {
        const int64_t elapsed = answerMs >= m_sendStampMs ? (answerMs - m_sendStampMs) / 1000 : 0;
        char line[40];
        std::snprintf(line, sizeof line, "R TIME = %d ", static_cast<int>(elapsed));
        m_strStatus += line;
        m_strStatus += "\r\n";
    }
    if (dump) {
        m_strMessage += "\r\n";
        char hex[4];
        for (uint16_t i = 0; i < length && i < Link::kFrameCapacity; ++i) {
            std::snprintf(hex, sizeof hex, " %02x", f[i]);
            m_strMessage += hex;
        }
    }
    m_nExecuted = static_cast<uint16_t>(m_nExecuted + 1);
    m_strExecuted = Decimal(m_nExecuted);
    UpdateData(false);

    // The run ends here unless a further cycle is due (the pause after the last answer sends
    // nothing, so the run is over already).
    if ((!nextArmed && !RepeatArmed()) || m_nRepeat <= m_nExecuted)
        EndRun(dump ? RunEnd::ModuleError : m_cancelRequested ? RunEnd::Cancelled : RunEnd::Completed);
}

}  // namespace kalvor
