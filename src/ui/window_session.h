// One run of the console in a window: the simulated module (--simulate), the trace (--trace),
// the results file (--results), the profile, the host, the dialog and its window, set up and torn down in the right order.
// RunWindow uses it, and so do the GUI tests and the picture maker, so that they drive exactly
// what the operator gets.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "app/headless/app_options.h"
#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"
#include "app/headless/session_ports.h"
#include "app/headless/simulated_module.h"
#include "app/headless/session_outputs.h"
#include "console/console_dlg.h"
#include "console/profile.h"
#include "ui/console_window.h"
#include "ui/qt_host.h"
#include "ui/run_chart_window.h"

namespace kalvor {

class WindowSession {
public:
    // Needs a QApplication. `profile`: where the remembered port is kept; nullptr: the INI file
    // at its default place. Under --simulate and --port the remembered port is left alone either way.
    explicit WindowSession(const AppOptions& options, Profile* profile = nullptr);
    ~WindowSession();
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    // Starts the simulated module and opens the trace and results files when asked for, and
    // builds the host, the dialog and the window. False, with the reason, when one of them
    // cannot be had.
    bool Prepare(std::string& error);
    // The dialog's start (OnInitDialog, which may show boxes), then the window is shown.
    // Returns what OnInitDialog returned.
    int Start();
    // Ends the dialog unless it has ended (as the close box does) and releases the host, the
    // dialog, the window and the simulated module. Idempotent; also done by the destructor.
    void Close();

    // Starts the timed, decoded trace into the --trace file (or kalvor-trace-DATE-TIME.txt in the
    // working folder) or stops it. Returns the footnote for the window: "Trace: FILE" while it
    // runs, "" when stopped, or why it could not start.
    std::string ToggleTrace();

    QtHost& Host() { return *m_host; }
    CConsoleDlg& Dialog() { return *m_dlg; }
    ConsoleWindow& Window() { return *m_window; }
    SimulatedModule& Module() { return m_module; }
    // The live run chart (Ctrl+G, or "Show run chart" / "Hide run chart" in the window's context menu).
    RunChartWindow& RunChart() { return *m_runChart; }

private:
    AppOptions m_options;
    SimulatedModule m_module;
    // --trace: the short lines on standard output, written through one checked file.
    OutputFile m_stdoutFile;
    OutputFileBuf m_stdoutBuffer{m_stdoutFile};
    std::ostream m_stdout{&m_stdoutBuffer};
    std::unique_ptr<HeadlessHost> m_lineTracer;
    std::unique_ptr<SessionOutputs> m_outputs;   // --results, --trace FILE, Ctrl+T
    std::string m_tracePath;
    void ReportWriteFailure(const std::string& message);
    std::unique_ptr<IniProfile> m_iniProfile;
    std::unique_ptr<PinnedPortProfile> m_pinnedProfile;  // --simulate, --port
    Profile* m_profile = nullptr;
    std::unique_ptr<QtHost> m_host;
    std::unique_ptr<CConsoleDlg> m_dlg;
    std::unique_ptr<PortWatcher> m_reconnect;  // opens a lost port again when it comes back
    std::unique_ptr<ConsoleWindow> m_window;
    std::unique_ptr<RunChartWindow> m_runChart;
};

}  // namespace kalvor
