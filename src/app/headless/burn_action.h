// `burn N`, the script's burn-in action: dispense runs with the MENU page's current settings
// until N cycles have been written in all. For each run it types "Repeat Count" (at most 999, the
// most the box takes) and presses "DISPENSE", as an operator would, and waits for the run's end:
//
//   - all cycles of the run done: the next run, for the cycles still to do;
//   - a link give-up (no ACK, no answer, bad frames): started again for the cycles still to do;
//   - a module error: the burn ends (the module needs a hand);
//   - the port lost: the port is waited for (the host reopens it) up to the session's port wait,
//     then the burn goes on; past that, or with no wait, the burn ends;
//   - a signal: the burn ends as `wait run` does.
//
// Before each further run it lets the protocol's pause between cycles (500 ms) pass. Every record
// written meanwhile carries the plan (N): the burn tells it to every run observer that is a
// BurnPlanListener, and tells 0 when it ends. Nothing of it is in the dialog.
#pragma once

#include <cstdint>
#include <string>

#include "console/run_events.h"

namespace kalvor {

class CConsoleDlg;
class ScriptHost;

// The most cycles one `burn` may plan, and the most one run of "Repeat Count" takes.
constexpr int64_t kMaxBurnCycles = 1000000;
constexpr unsigned kMaxRunCycles = 999;

class BurnAction final : public RunObserver {
public:
    // `portWaitS`: how long a lost port is waited for, in seconds; -1 or 0: not at all.
    BurnAction(CConsoleDlg& dlg, ScriptHost& host, int portWaitS);
    ~BurnAction() override;
    BurnAction(const BurnAction&) = delete;
    BurnAction& operator=(const BurnAction&) = delete;

    // Runs a burn of `planned` cycles (1..kMaxBurnCycles, as the script check let through).
    // False with `why` for a script error (not on the MENU page,
    // DISPENSE refused); false with `why` empty when a signal ended it. True when the burn ended
    // otherwise, whether or not all N cycles were written (the records and the exit status tell).
    bool Run(unsigned planned, std::string& why);
    unsigned Written() const { return m_written; }

    void OnRunStarted(const RunTime&, unsigned) override { m_runStarted = true; }
    void OnCycleWritten(const RunTime&, const CycleRequest&) override { ++m_written; }
    void OnRunEnded(const RunTime&, RunEnd how) override { m_lastEnd = how; }

private:
    void Plan(unsigned planned);
    bool StartRun(unsigned cycles, std::string& why);
    bool WaitForPort();

    CConsoleDlg& m_dlg;
    ScriptHost& m_host;
    int m_portWaitS;
    unsigned m_written = 0;
    bool m_runStarted = false;
    RunEnd m_lastEnd = RunEnd::Completed;
};

}  // namespace kalvor
