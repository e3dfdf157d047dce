// What a session writes beside the console, for the window and the headless host alike: the
// results file (--results), the timed and decoded trace (--trace FILE, Ctrl+T in the window) and
// the exit accounting. All of it listens to the console's run events. Every write is checked; the
// first failure of each file is told once through the reporter (standard error headless, a box in
// the window) and counts for the exit status.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/headless/app_options.h"
#include "app/headless/trace_file.h"
#include "burnin/burn_in_recorder.h"
#include "burnin/burn_plan.h"
#include "burnin/output_file.h"
#include "burnin/session_tally.h"
#include "console/run_events.h"

namespace kalvor {

class CConsoleDlg;

class SessionOutputs final : public RunObserver, public BurnPlanListener {
public:
    explicit SessionOutputs(std::function<void(const std::string& message)> reporter);
    ~SessionOutputs() override;

    // Opens the results file and the trace file the options name, appending under --append. False,
    // with the complaint, when one cannot be opened, two files of the session (results, trace,
    // script, profile) are one, or the profile cannot be used (a bad option); every file is then
    // left as it was.
    bool Open(const AppOptions& options, std::string& error);
    // Listens to the dialog: recorder, exit accounting, trace; the run summaries go to its
    // Message pane. Before OnInitDialog, so the port's opening is seen.
    void Attach(CConsoleDlg& dlg);
    void Detach();
    // The run summaries also go here (headless: standard error, where they outlive the session).
    void SetSummaryEcho(std::function<void(const std::string& line)> echo) { m_echo = std::move(echo); }

    // The timed, decoded trace: started into `path` (appending when asked), or stopped.
    bool StartTrace(const std::string& path, bool append, std::string& error);
    void StopTrace();
    bool Tracing() const { return m_trace != nullptr; }

    SessionTally& Tally() { return m_tally; }

    // A script action, for the trace.
    void NoteAction(const std::string& line);

    void OnPortOpened(const RunTime& t, int port, const std::string& device) override;
    // A burn's plan, noted in the trace.
    void OnBurnPlanned(unsigned planned) override;
    void OnPortOpenFailed(const RunTime& t, int port, const std::string& device, const std::string& reason) override;
    void OnPortLost(const RunTime& t, int port, const std::string& device) override;
    void OnBox(const RunTime& t, const std::string& text, const std::string& caption, BoxKind kind) override;
    void OnLinkTimeOut(const RunTime& t, LinkTimer timer, const char* state) override;
    void OnLinkGaveUp(const RunTime& t, const char* how, const char* state) override;

private:
    void BeginTrace();
    void ApplyTrace();
    std::string PortLine() const;
    std::string IdentityLine() const;

    std::function<void(const std::string&)> m_report;
    std::function<void(const std::string&)> m_echo;
    CConsoleDlg* m_dlg = nullptr;
    SessionTally m_tally;
    std::unique_ptr<BurnInRecorder> m_recorder;
    OutputFile m_traceFile;
    std::unique_ptr<TraceFile> m_trace;
    std::string m_module;           // --module NAME
    RecordIdentity m_identity;      // of the port opened last
    bool m_portNotePending = false;
    bool m_portLost = false;  // the next opening is an opening again
    bool m_traceSet = false;  // the channel's trace callback is ours
};

}  // namespace kalvor
