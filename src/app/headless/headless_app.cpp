#include "app/headless/headless_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <vector>

#include "app/headless/event_pipe.h"
#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"
#include "app/headless/script_check.h"
#include "app/headless/script_input.h"
#include "app/headless/script_runner.h"
#include "app/headless/session_ports.h"
#include "app/headless/session_outputs.h"
#include "app/headless/signal_watch.h"
#include "app/headless/simulated_module.h"
#include "burnin/progress_line.h"
#include "burnin/session_tally.h"
#include "console/console_dlg.h"

namespace kalvor {

namespace {

// Why the port did not open, on standard error as the Message pane says it (with its holder).
class OpenFailureEcho final : public RunObserver {
public:
    explicit OpenFailureEcho(std::function<void(const std::string&)> tell) : m_tell(std::move(tell)) {}
    void OnPortOpenFailed(const RunTime&, int, const std::string&, const std::string& reason) override {
        m_tell(reason);
    }

private:
    std::function<void(const std::string&)> m_tell;
};

}  // namespace

int RunHeadless(const AppOptions& options, std::istream& script, std::ostream& out, std::ostream& err) {
    // A script in a regular file (--script FILE, or redirected to standard input; any stream a
    // caller gives) is read and checked whole before anything is opened or sent: a typo on its
    // last line costs nothing. A pipe, a terminal or a FIFO is read as it comes, by a thread of its
    // own, and checked line by line, as it may be fed slowly or typed.
    const std::string scriptName = options.script.empty() ? "standard input" : options.script;
    struct stat scriptStat {};
    int liveFd = -1;
    if (&script == &std::cin) {
        if (::fstat(STDIN_FILENO, &scriptStat) != 0 || !S_ISREG(scriptStat.st_mode)) liveFd = STDIN_FILENO;
    } else if (!options.script.empty() && ::stat(options.script.c_str(), &scriptStat) == 0 &&
               !S_ISREG(scriptStat.st_mode)) {
        liveFd = ::open(options.script.c_str(), O_RDONLY | O_CLOEXEC);
        if (liveFd < 0) {
            err << "kalvor-tp: cannot read the script " << options.script << ": " << std::strerror(errno) << std::endl;
            return kExitBadOptions;
        }
    }
    struct CloseFd {
        int fd;
        ~CloseFd() {
            if (fd > STDERR_FILENO) ::close(fd);
        }
    } closeScript{liveFd};
    const bool live = liveFd >= 0;
    std::vector<ScriptLine> checkedLines;
    if (!live && !LoadScript(script, scriptName, AllScriptNames(options.calibration), checkedLines, err)) {
        SessionTally nothingRan;
        nothingRan.ScriptFailed();
        err << nothingRan.Line() << std::endl;
        return nothingRan.ExitStatus();
    }

    // The signal watcher comes first, so that every thread of the session (the simulator's, the
    // channel's readers, the script's reader) starts with the signals blocked and only the watcher
    // takes them. A signal ends every wait of the host, the wait for the script's next line too.
    std::atomic<HeadlessHost*> running{nullptr};
    SignalWatch signals([&](int sig) {
        if (HeadlessHost* host = running.load()) host->Interrupt(sig);
    });

    SimulatedModule module;
    if (options.simulate >= 0) {
        std::string why;
        if (!module.Start(options.simulate, why)) {
            err << "kalvor-tp: " << why << std::endl;
            return kExitBadOptions;
        }
    }
    // Whatever goes to standard error stands on a line of its own, never after a progress line
    // that is being redrawn.
    std::unique_ptr<ProgressLine> progress;
    auto tell = [&err, &progress](const std::string& line) {
        if (progress) progress->EndLine();
        err << "kalvor-tp: " << line << std::endl;
    };
    SessionOutputs outputs(tell);
    {
        std::string why;
        if (!outputs.Open(options, why)) {
            err << "kalvor-tp: " << why << std::endl;
            return kExitBadOptions;
        }
    }

    // Standard output (BOX lines, print, --trace without FILE) is written through one checked
    // file: a full disk or a closed pipe is told once, the session goes on and exits 6.
    OutputFile stdoutFile;
    OutputFileBuf stdoutBuffer(stdoutFile);
    std::ostream checkedOut(&stdoutBuffer);
    if (&out == &std::cout) {
        std::cout.flush();
        stdoutFile.Adopt(STDOUT_FILENO, "standard output");
        stdoutFile.SetFailureHandler([&tell, &outputs](const std::string&, const std::string& why) {
            outputs.Tally().FileFailed("standard output");
            tell("cannot write to standard output: " + why + "; what goes there from here on is lost");
        });
    }
    std::ostream& sessionOut = &out == &std::cout ? checkedOut : out;

    IniProfile iniProfile(IniProfile::DefaultPath());
    const int startPort = ApplyCommandLinePorts(options);
    PinnedPortProfile pinnedProfile(iniProfile, startPort);
    Profile& profile = startPort > 0 ? static_cast<Profile&>(pinnedProfile) : iniProfile;

    HeadlessHost host(sessionOut);
    host.SetPortWait(options.portWaitS);
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
    OpenFailureEcho openFailures(tell);
    dlg->Events().Add(&openFailures);
    host.SetActionNoter([&outputs](const std::string& line) { outputs.NoteAction(line); });
    // The bench's supervisor listens on --events-fd; before OnInitDialog, so the port's opening is told.
    std::unique_ptr<EventPipe> events;
    if (options.eventsFd >= 0) {
        events = std::make_unique<EventPipe>(options.eventsFd);
        dlg->Events().Add(events.get());
    }
    if (!options.quiet) outputs.SetSummaryEcho(tell);

    // Progress on standard error: redrawn in place on a terminal, a line per cycle with --progress.
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

    ScriptRunner runner(*dlg, host, sessionOut, err);
    runner.SetName(scriptName);
    std::unique_ptr<ScriptInput> input;  // stopped after the host has shut down
    int scriptStatus = kExitOk;
    if (!live) {
        scriptStatus = runner.Run(checkedLines);
    } else {
        // At a terminal a wrong line is told and skipped; from a pipe or a file it ends the session.
        const bool typed = ::isatty(liveFd) == 1;
        input = std::make_unique<ScriptInput>(liveFd, host.Sink());
        ScriptLineSplitter::Line line;
        bool quit = false;
        for (int number = 1; !quit && !host.Ended() && !host.Interrupted() && input->Next(host, line);
             number += number < INT_MAX) {
            const bool ok = line.tooLong ? runner.Fail(number, LongLineError(line.text))
                                         : runner.RunLine(line.text, number, quit);
            if (!ok && !host.Interrupted() && !typed) {
                scriptStatus = kExitScriptError;
                break;
            }
        }
    }
    SessionTally& tally = outputs.Tally();
    if (scriptStatus == kExitScriptError) tally.ScriptFailed();
    // A run still under way when the session ends (a signal, "quit", "EXIT", the script's end)
    // ends as "Cancel" would, and the cycle in flight gets its record.
    if (dlg->RunActive()) dlg->AbortRun(CycleEnd::Interrupted);
    if (const int sig = host.Interrupted()) tally.Interrupted(sig);
    running = nullptr;

    if (progress) {
        progress->EndLine();
        dlg->Events().Remove(progress.get());
    }
    if (events) dlg->Events().Remove(events.get());
    if (!host.Ended()) dlg->OnClose();
    host.Shutdown();
    input.reset();
    reconnect.Stop();  // after the host: a hand-over under way has been released
    dlg->Events().Remove(&reconnect);
    dlg->Events().Remove(&openFailures);
    outputs.Detach();
    dlg.reset();
    module.Stop();
    sessionOut.flush();  // whatever is left, told before the closing line
    err << tally.Line() << std::endl;
    return tally.ExitStatus();
}

}  // namespace kalvor
