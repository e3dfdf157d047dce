// The progress of a dispense run on standard error: on a terminal one line redrawn in place,
// otherwise (with --progress) one plain line per cycle. Nothing of it goes to standard output.
// Under `burn N` the line counts the whole burn (cycle i/N over all its runs), not one run.
//
//   cycle 12/50, dispensed 36, rejected 1, errors 0, answer 812.3 ms (median 815.0), elapsed 0:36, left 1:54
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "burnin/burn_plan.h"
#include "console/run_events.h"

namespace kalvor {

class ProgressLine final : public RunObserver, public BurnPlanListener {
public:
    // redraw: the line is redrawn in place (a terminal); else a line per cycle.
    ProgressLine(std::ostream& out, bool redraw) : m_out(out), m_redraw(redraw) {}

    void OnRunStarted(const RunTime& t, unsigned repeatCount) override;
    void OnCycleWritten(const RunTime& t, const CycleRequest& request) override;
    void OnCycleAnswered(const RunTime& t, const CycleAnswer& answer) override;
    void OnCycleFailed(const RunTime& t, CycleEnd how) override;
    void OnRunEnded(const RunTime& t, RunEnd how) override;
    void OnBurnPlanned(unsigned planned) override;

    // Ends a redrawn line, so that what is written next stands on a line of its own.
    void EndLine();
    // The line as it stands after the last cycle (for the tests).
    std::string Text(int64_t nowUs) const;

private:
    void Show(int64_t nowUs);

    std::ostream& m_out;
    bool m_redraw;
    bool m_drawn = false;  // a redrawn line stands unfinished on the terminal
    unsigned m_planned = 0;  // the burn's N while a burn is under way, else 0
    bool m_burnStarted = false;
    unsigned m_repeat = 0, m_done = 0, m_dispensed = 0, m_rejected = 0, m_errors = 0;
    int64_t m_startUs = 0, m_writeUs = 0, m_lastUs = -1;
    std::vector<int64_t> m_answerUs;
};

}  // namespace kalvor
