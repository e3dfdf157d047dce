#include "app/headless/headless_app.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>

#include "app/headless/event_pipe.h"
#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"
#include "app/headless/script_runner.h"
#include "app/headless/session_ports.h"
#include "app/headless/session_outputs.h"
#include "app/headless/signal_watch.h"
#include "app/headless/simulated_module.h"
#include "burnin/progress_line.h"
#include "console/console_dlg.h"

namespace kalvor {

int RunHeadless(const AppOptions& options, std::istream& script, std::ostream& out, std::ostream& err) {
    // The signal watcher comes first, so that every thread of the session (the simulator's, the
    // channel's readers) starts with the signals blocked and only the watcher takes them.
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::atomic<HeadlessHost*> running{nullptr};
    SignalWatch signals([&](int sig) {
        if (HeadlessHost* host = running.load()) host->Interrupt(sig);
        const uint64_t one = 1;
        if (wakeFd >= 0 && ::write(wakeFd, &one, sizeof one) < 0) {
            // The script's reader then ends at its next line; nothing else to do here.
        }
    });
    struct CloseFd {
        int fd;
        ~CloseFd() {
            if (fd >= 0) ::close(fd);
        }
    } closeWake{wakeFd};

    SimulatedModule module;
    if (options.simulate >= 0) {
        std::string why;
        if (!module.Start(options.simulate, why)) {
            err << "kalvor-tp: " << why << std::endl;
            return kExitBadOptions;
        }
    }
    SessionOutputs outputs([&err](const std::string& message) { err << "kalvor-tp: " << message << std::endl; });
    {
        std::string why;
        if (!outputs.Open(options, why)) {
            err << "kalvor-tp: " << why << std::endl;
            return kExitBadOptions;
        }
    }

    IniProfile iniProfile(IniProfile::DefaultPath());
    const int startPort = ApplyCommandLinePorts(options);
    PinnedPortProfile pinnedProfile(iniProfile, startPort);
    Profile& profile = startPort > 0 ? static_cast<Profile&>(pinnedProfile) : iniProfile;

    HeadlessHost host(out);
    ConsoleOptions consoleOptions;
    consoleOptions.calibrationTabs = options.calibration;
    consoleOptions.simulatedModel = options.StartModel();
    consoleOptions.startBaud = options.baud;
    consoleOptions.startParity = options.parity;
    auto dlg = std::make_unique<CConsoleDlg>(host, profile, std::make_unique<CComm>(), consoleOptions);
    host.Attach(dlg.get());
    // A lost port is opened again when its path comes back.
    PortWatcher reconnect(host.Sink(), [&dlg](int port) { return dlg->ReopenLostPort(port); });
    dlg->Events().Add(&reconnect);
    if (options.trace && options.traceFile.empty())
        dlg->Comm().SetTrace([&host](bool tx, const uint8_t* data, size_t length) { host.TraceLine(tx, data, length); });
    outputs.Attach(*dlg);
    // The bench's supervisor listens on --events-fd; before OnInitDialog, so the port's opening is told.
    std::unique_ptr<EventPipe> events;
    if (options.eventsFd >= 0) {
        events = std::make_unique<EventPipe>(options.eventsFd);
        dlg->Events().Add(events.get());
    }
    if (!options.quiet) outputs.SetSummaryEcho([&err](const std::string& line) { err << "kalvor-tp: " << line << std::endl; });

    // Progress on standard error: redrawn in place on a terminal, a line per cycle with --progress.
    std::unique_ptr<ProgressLine> progress;
    const bool terminal = &err == &std::cerr && ::isatty(STDERR_FILENO);
    if (!options.quiet && (options.progress || terminal)) {
        progress = std::make_unique<ProgressLine>(err, terminal && !options.progress);
        dlg->Events().Add(progress.get());
    }

    running = &host;
    if (signals.Caught()) host.Interrupt(signals.Caught());
    dlg->OnInitDialog();
    dlg->OnPaint();
    host.Pump();

    // The script on standard input is read so that a signal ends the wait for its next line.
    InterruptibleInput stdinBuffer(STDIN_FILENO, wakeFd);
    std::istream stdinScript(&stdinBuffer);
    std::istream& lines = &script == &std::cin && wakeFd >= 0 ? stdinScript : script;

    ScriptRunner runner(*dlg, host, out, err);
    const int scriptStatus = runner.Run(lines);
    SessionTally& tally = outputs.Tally();
    if (scriptStatus == kExitScriptError) tally.ScriptFailed();
    // A run still under way when the session ends (a signal, "quit", "EXIT", the script's end)
    // ends as "Cancel" would, and the cycle in flight gets its record.
    if (dlg->RunActive()) dlg->AbortRun(CycleEnd::Interrupted);
    if (const int sig = host.Interrupted()) tally.Interrupted(sig);
    running = nullptr;

    if (progress) dlg->Events().Remove(progress.get());
    if (events) dlg->Events().Remove(events.get());
    if (!host.Ended()) dlg->OnClose();
    host.Shutdown();
    reconnect.Stop();  // after the host: a hand-over under way has been released
    dlg->Events().Remove(&reconnect);
    outputs.Detach();
    dlg.reset();
    module.Stop();
    err << tally.Line() << std::endl;
    return tally.ExitStatus();
}

}  // namespace kalvor
