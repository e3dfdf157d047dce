// The exit accounting of a session: what went wrong, counted from the console's run events, and
// the exit status and the one line on standard error that tell it.
//
//   0 all went well; 1 script error; 2 bad options; 3 a module error code was shown; 4 the link
//   gave up (its four boxes, or a cycle ended by a cut-off answer); 5 both 3 and 4; 6 the bench
//   failed, so the run proves nothing (the port could not be opened or was lost, a request was
//   refused, a cycle was written while no port was open, a results or trace file could not be
//   written). 6 wins over 3-5, and 3-6 over 1: a script error never hides what the module or the
//   bench did. The link's give-ups while no port is open are the bench's, not
//   the module's: they count for 6, not for 4.
#pragma once

#include <string>
#include <vector>

#include "burnin/exit_status.h"
#include "console/run_events.h"

namespace kalvor {


class SessionTally final : public RunObserver {
public:
    void OnCycleAnswered(const RunTime&, const CycleAnswer& answer) override;
    void OnCycleFailed(const RunTime&, CycleEnd how) override;
    void OnPortOpened(const RunTime&, int port, const std::string& device) override;
    void OnPortOpenFailed(const RunTime&, int port, const std::string& device, const std::string& reason) override;
    void OnPortLost(const RunTime&, int port, const std::string& device) override;
    void OnBox(const RunTime&, const std::string& text, const std::string& caption, BoxKind kind) override;

    // A results or trace file could not be written (`what`: "results file", "trace file").
    void FileFailed(const std::string& what);
    void ScriptFailed() { m_scriptError = true; }
    void Interrupted(int signal) { m_signal = signal; }

    // The status by the table above; a signal gives 128 + its number.
    int ExitStatus() const;
    // "kalvor-tp: 40 cycles, 1 module error (38), 0 link give-ups, port lost once"
    std::string Line() const;

    unsigned Cycles() const { return m_cycles; }
    unsigned ModuleErrors() const { return static_cast<unsigned>(m_moduleCodes.size()); }
    unsigned LinkGiveUps() const { return m_linkGiveUps; }
    bool BenchFailed() const;

private:
    unsigned m_cycles = 0;
    std::vector<int> m_moduleCodes;  // the code of every module error box, in order
    int m_pendingCode = -1;          // the module error code of the answer just recorded
    unsigned m_linkGiveUps = 0;
    bool m_cutOffPending = false;    // a cycle ended by bad frames: its "Error Receive Frame" box is the same give-up
    unsigned m_portLost = 0;
    bool m_portOpen = true;          // as the port events tell it (open until told otherwise)
    unsigned m_notOpenCycles = 0;    // cycles written while no port was open
    unsigned m_notOpenGiveUps = 0;   // the link's boxes while no port was open: no module's failure
    unsigned m_openFailures = 0;
    bool m_portEverOpened = false;
    unsigned m_refused = 0;
    std::vector<std::string> m_filesFailed;
    bool m_scriptError = false;
    int m_signal = 0;
};

}  // namespace kalvor
