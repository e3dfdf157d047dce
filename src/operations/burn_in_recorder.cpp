#include "operations/burn_in_recorder.h"

#include <algorithm>
#include <cstdio>

namespace kalvor {

namespace {

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string Csv(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += "\"\"";
        else if (c == '\n' || c == '\r') q += ' ';
        else q += c;
    }
    return q + "\"";
}

std::string Ms(int64_t v) { return v < 0 ? std::string() : std::to_string(v); }

}  // namespace

BurnInRecorder::BurnInRecorder(const std::string& path) : m_out(path, std::ios::trunc) {
    m_ok = static_cast<bool>(m_out);
    if (m_ok) {
        m_out << "run,cycle,command,upper_request,lower_request,dispensed,rejected,result_code,"
                 "result_text,upper_empty,lower_empty,write_to_ack_ms,ack_to_answer_ms,ended\n";
        m_out.flush();
    }
}

void BurnInRecorder::RunStarted() {
    ++m_run;
    m_cycle = 0;
    m_open = false;
    m_runCycles = m_runDispensed = m_runRejected = m_runErrors = 0;
    m_answerTimes.clear();
}

void BurnInRecorder::CycleWritten(int64_t nowMs, char command, const char upper[2], const char lower[2]) {
    ++m_cycle;
    m_open = true;
    m_command = command;
    m_upper.assign(upper, 2);
    m_lower.assign(lower, 2);
    if (command == 'E') m_lower.clear();
    if (command == 'U') m_upper.clear();
    m_writeMs = nowMs;
    m_ackMs = -1;
    m_answerMs = -1;
}

void BurnInRecorder::AckReceived(int64_t nowMs) {
    if (m_open && m_ackMs < 0) m_ackMs = nowMs;
}

void BurnInRecorder::Answered(int64_t nowMs, const CycleAnswer& answer) {
    if (!m_open) return;
    m_answerMs = nowMs;
    ++m_runCycles;
    m_runDispensed += static_cast<unsigned>(answer.dispensed);
    m_runRejected += static_cast<unsigned>(answer.rejected);
    if (answer.moduleError) ++m_runErrors;
    m_answerTimes.push_back(nowMs - m_writeMs);
    WriteRow(answer.moduleError ? "module error" : "answered", &answer);
}

void BurnInRecorder::Failed(int64_t, const char* how) {
    if (!m_open) return;
    ++m_runCycles;
    ++m_runErrors;
    WriteRow(how, nullptr);
}

void BurnInRecorder::WriteRow(const char* how, const CycleAnswer* a) {
    m_open = false;
    ++m_totalCycles;
    if (!m_ok) return;
    char code[8] = "";
    if (a) std::snprintf(code, sizeof code, "%02X", a->resultCode);
    const int64_t toAck = m_ackMs >= 0 ? m_ackMs - m_writeMs : -1;
    const int64_t toAnswer = (m_ackMs >= 0 && m_answerMs >= 0) ? m_answerMs - m_ackMs : -1;
    auto flag = [](char c) { return c ? std::string(1, c) : std::string(); };
    m_out << m_run << ',' << m_cycle << ',' << m_command << ',' << Csv(m_upper) << ',' << Csv(m_lower) << ','
          << (a ? std::to_string(a->dispensed) : "") << ',' << (a ? std::to_string(a->rejected) : "") << ','
          << code << ',' << (a ? Csv(a->resultText) : "") << ',' << (a ? Csv(flag(a->upperEmpty)) : "") << ','
          << (a ? Csv(flag(a->lowerEmpty)) : "") << ',' << Ms(toAck) << ',' << Ms(toAnswer) << ',' << how << '\n';
    m_out.flush();  // a crash loses nothing already recorded
}

std::string BurnInRecorder::Summary() const {
    std::string line = "RUN " + std::to_string(m_run) + ": cycles " + std::to_string(m_runCycles) +
                       ", dispensed " + std::to_string(m_runDispensed) + ", rejected " +
                       std::to_string(m_runRejected) + ", errors " + std::to_string(m_runErrors);
    if (m_answerTimes.empty()) return line + ", answer ms -/-/-";
    std::vector<int64_t> t = m_answerTimes;
    std::sort(t.begin(), t.end());
    const size_t n = t.size();
    const int64_t median = n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
    return line + ", answer ms " + std::to_string(t.front()) + "/" + std::to_string(median) + "/" +
           std::to_string(t.back()) + " (min/median/max)";
}

}  // namespace kalvor
