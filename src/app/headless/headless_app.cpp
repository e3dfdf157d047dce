#include "app/headless/headless_app.h"

#include <fstream>
#include <iostream>
#include <memory>

#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"
#include "app/headless/script_runner.h"
#include "app/headless/session_ports.h"
#include "app/headless/simulated_module.h"
#include "app/headless/trace_file.h"
#include "console/console_dlg.h"

namespace kalvor {

int RunHeadless(const AppOptions& options, std::istream& script, std::ostream& out, std::ostream& err) {
    SimulatedModule module;
    if (options.simulate >= 0) {
        std::string why;
        if (!module.Start(options.simulate, why)) {
            err << "kalvor-tp: " << why << std::endl;
            return 2;
        }
    }
    std::ofstream traceFile;
    if (!options.traceFile.empty()) {
        traceFile.open(options.traceFile, std::ios::trunc);
        if (!traceFile) {
            err << "kalvor-tp: cannot write the trace file " << options.traceFile << std::endl;
            return 2;
        }
    }

    IniProfile iniProfile(IniProfile::DefaultPath());
    const int startPort = ApplyCommandLinePorts(options);
    PinnedPortProfile pinnedProfile(iniProfile, startPort);
    Profile& profile = startPort > 0 ? static_cast<Profile&>(pinnedProfile) : iniProfile;

    HeadlessHost host(out);
    TraceFile tracer(traceFile);
    ConsoleOptions consoleOptions;
    consoleOptions.calibrationTabs = options.calibration;
    consoleOptions.simulatedModel = options.simulate;
    auto dlg = std::make_unique<CConsoleDlg>(host, profile, std::make_unique<CComm>(), consoleOptions);
    host.Attach(dlg.get());
    // A lost port is opened again when its path comes back.
    PortWatcher reconnect(host.Sink(), [&dlg](int port) { return dlg->ReopenLostPort(port); });
    dlg->Events().Add(&reconnect);
    if (options.trace && options.traceFile.empty()) {
        dlg->Comm().SetTrace([&host](bool tx, const uint8_t* data, size_t length) { host.TraceLine(tx, data, length); });
    } else if (options.trace) {
        dlg->Comm().SetTrace([&tracer](bool tx, const uint8_t* data, size_t length) { tracer.Line(tx, data, length); });
    }
    if (!options.results.empty() && !dlg->RecordResults(options.results)) {
        err << "kalvor-tp: cannot write the results file " << options.results << std::endl;
        return kExitBadOptions;
    }
    dlg->OnInitDialog();
    dlg->OnPaint();
    host.Pump();

    ScriptRunner runner(*dlg, host, out, err);
    int status = runner.Run(script);
    if (status == kExitOk) {
        const bool moduleError = dlg->ModuleErrorCount() > 0;
        const bool giveUp = dlg->LinkGiveUpCount() > 0;
        status = moduleError && giveUp ? kExitBoth : moduleError ? kExitModuleError : giveUp ? kExitLinkGiveUp : kExitOk;
    }
    if (!host.Ended()) dlg->OnClose();
    host.Shutdown();
    reconnect.Stop();  // after the host: a hand-over under way has been released
    dlg->Events().Remove(&reconnect);
    dlg.reset();
    module.Stop();
    return status;
}

}  // namespace kalvor
