#include "burnin/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "burnin/burn_in_recorder.h"
#include "protocol/link.h"

namespace kalvor {

namespace {

std::string Clock(int64_t us) {
    const long long s = us / 1000000;
    char text[32];
    if (s >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::string Ms(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(us) / 1000.0);
    return text;
}

}  // namespace

void ProgressLine::OnBurnPlanned(unsigned planned) {
    if (planned == 0) EndLine();
    m_planned = planned;
    m_burnStarted = false;
}

void ProgressLine::OnRunStarted(const RunTime& t, unsigned repeatCount) {
    // The runs of one burn make one count.
    if (m_planned > 0 && std::exchange(m_burnStarted, true)) return;
    m_repeat = m_planned > 0 ? m_planned : repeatCount;
    m_done = m_dispensed = m_rejected = m_errors = 0;
    m_startUs = t.monoUs;
    m_lastUs = -1;
    m_answerUs.clear();
}

void ProgressLine::OnCycleWritten(const RunTime& t, const CycleRequest&) { m_writeUs = t.monoUs; }

void ProgressLine::OnCycleAnswered(const RunTime& t, const CycleAnswer& answer) {
    ++m_done;
    m_dispensed += static_cast<unsigned>(answer.dispensed);
    m_rejected += static_cast<unsigned>(answer.rejected);
    if (answer.moduleError) ++m_errors;
    m_lastUs = t.monoUs - m_writeUs;
    m_answerUs.push_back(m_lastUs);
    Show(t.monoUs);
}

void ProgressLine::OnCycleFailed(const RunTime& t, CycleEnd how) {
    ++m_done;
    if (CountsAsError(how)) ++m_errors;
    Show(t.monoUs);
}

void ProgressLine::OnRunEnded(const RunTime&, RunEnd) {
    if (m_planned == 0) EndLine();
}

void ProgressLine::EndLine() {
    if (m_redraw && m_drawn) m_out << "\n" << std::flush;
    m_drawn = false;
}

std::string ProgressLine::Text(int64_t nowUs) const {
    const unsigned total = std::max(m_repeat, m_done);
    std::string line = "cycle " + std::to_string(m_done) + "/" + std::to_string(total) + ", dispensed " +
                       std::to_string(m_dispensed) + ", rejected " + std::to_string(m_rejected) + ", errors " +
                       std::to_string(m_errors);
    if (m_lastUs >= 0) {
        line += ", answer " + Ms(m_lastUs) + " (median " + Ms(MedianOf(m_answerUs)) + ")";
    }
    const int64_t elapsed = nowUs - m_startUs;
    line += ", elapsed " + Clock(elapsed);
    // A cycle and the pause after it: d cycles took d cycles and d - 1 pauses.
    const int64_t perCycle = m_done > 0 ? (elapsed + int64_t{kRepeatPauseMs} * 1000) / m_done : 0;
    if (m_done > 0 && total > m_done) line += ", left " + Clock(perCycle * (total - m_done));
    return line;
}

void ProgressLine::Show(int64_t nowUs) {
    if (m_redraw) {
        m_out << "\r\x1b[K" << Text(nowUs) << std::flush;
        m_drawn = true;
    } else {
        m_out << Text(nowUs) << "\n" << std::flush;
    }
}

}  // namespace kalvor
