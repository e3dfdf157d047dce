#include "app/headless/burn_action.h"

#include "app/headless/script_host.h"
#include "app/headless/script_runner.h"
#include "burnin/burn_plan.h"
#include "console/console_dlg.h"
#include "protocol/link.h"

namespace kalvor {

namespace {

constexpr int kRepeatCountEdit = 1030;  // "Repeat Count"
constexpr int kDispenseButton = 1020;   // "DISPENSE" on the MENU page
// How long the console may stay busy with an earlier exchange before a run is started.
constexpr int64_t kIdleWaitMs = 30000;

}  // namespace

BurnAction::BurnAction(CConsoleDlg& dlg, ScriptHost& host, int portWaitS)
    : m_dlg(dlg), m_host(host), m_portWaitS(portWaitS) {
    m_dlg.Events().Add(this);
}

BurnAction::~BurnAction() { m_dlg.Events().Remove(this); }

void BurnAction::Plan(unsigned planned) {
    m_dlg.Events().Each([planned](RunObserver& o) {
        if (auto* listener = dynamic_cast<BurnPlanListener*>(&o)) listener->OnBurnPlanned(planned);
    });
}

bool BurnAction::WaitForPort() {
    if (m_dlg.PortOpen()) return true;
    if (m_portWaitS <= 0) return false;
    return m_host.RunUntil([this] { return m_dlg.PortOpen(); }, static_cast<int64_t>(m_portWaitS) * 1000);
}

bool BurnAction::StartRun(unsigned cycles, std::string& why) {
    ControlTable& controls = m_dlg.Controls();
    const Control* repeat = controls.Find(kRepeatCountEdit);
    const Control* dispense = controls.Find(kDispenseButton);
    if (m_dlg.Controls().TabSelection() != 1 || !repeat || !dispense || !repeat->visible || !repeat->enabled ||
        !dispense->visible || !dispense->enabled) {
        why = "burn dispenses from the MENU page (tab MENU first)";
        return false;
    }
    if (!m_host.RunUntil([this] { return m_dlg.IsIdle(); }, kIdleWaitMs)) {
        if (!m_host.Interrupted()) why = "burn: still busy after " + std::to_string(kIdleWaitMs) + " ms";
        return false;
    }
    // As an operator would: the count into "Repeat Count", then "DISPENSE".
    controls.UserSetText(kRepeatCountEdit, std::to_string(cycles));
    m_runStarted = false;
    m_dlg.OnCommand(kDispenseButton);
    m_host.Pump();
    if (!m_runStarted) {
        why = "burn: DISPENSE started no dispense run (see the box above)";
        return false;
    }
    return true;
}

bool BurnAction::Run(unsigned planned, std::string& why) {
    why.clear();
    if (planned == 0) return true;
    if (m_dlg.RunActive()) {
        why = "burn: a dispense run is under way (wait run first)";
        return false;
    }
    m_written = 0;
    Plan(planned);
    bool ok = true;
    bool first = true;
    while (m_written < planned && !m_host.Ended()) {
        if (m_host.Interrupted()) {
            ok = false;
            break;
        }
        // A port lost before or between runs: wait for it as for one lost during a run.
        if (!WaitForPort()) {
            ok = !m_host.Interrupted();
            break;
        }
        // The protocol's pause between cycles, also between runs and before a run started again.
        if (!first) m_host.RunFor(kRepeatPauseMs);
        first = false;
        if (m_host.Interrupted() || m_host.Ended()) continue;
        const unsigned remaining = planned - m_written;
        if (!StartRun(remaining < kMaxRunCycles ? remaining : kMaxRunCycles, why)) {
            ok = false;
            break;
        }
        while (!m_host.RunUntil([this] { return !m_dlg.RunActive(); }, kMaxScriptWaitMs)) {
            if (m_host.Interrupted() || m_host.Ended()) break;
        }
        if (m_dlg.RunActive()) continue;  // a signal or the dialog's end: the loop ends above
        const RunEnd how = m_lastEnd;
        if (how == RunEnd::Completed || how == RunEnd::LinkFailed || how == RunEnd::PortLost) continue;
        // A module error (the module needs a hand), "Cancel", another command in its place, or
        // the session ending: the burn is over.
        break;
    }
    Plan(0);
    return ok;
}

}  // namespace kalvor
