#include "app/headless/headless_app.h"

#include <fstream>
#include <iostream>
#include <memory>

#include "app/headless/headless_host.h"
#include "app/headless/script_runner.h"
#include "app/headless/simulated_module.h"
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
    SimulationProfile simProfile(iniProfile);
    Profile& profile = options.simulate >= 0 ? static_cast<Profile&>(simProfile) : iniProfile;

    HeadlessHost host(out);
    HeadlessHost traceHost(traceFile);  // formats the trace lines for a file
    ConsoleOptions consoleOptions;
    consoleOptions.calibrationTabs = options.calibration;
    consoleOptions.simulatedModel = options.simulate;
    auto dlg = std::make_unique<CConsoleDlg>(host, profile, std::make_unique<CComm>(), consoleOptions);
    host.Attach(dlg.get());
    if (options.trace) {
        HeadlessHost* tracer = options.traceFile.empty() ? &host : &traceHost;
        dlg->Comm().SetTrace([tracer](bool tx, const uint8_t* data, size_t length) {
            tracer->TraceLine(tx, data, length);
        });
    }
    dlg->OnInitDialog();
    dlg->OnPaint();
    host.Pump();

    ScriptRunner runner(*dlg, host, out, err);
    const int status = runner.Run(script);
    if (!host.Ended()) dlg->OnClose();
    host.Shutdown();
    dlg.reset();
    module.Stop();
    return status;
}

}  // namespace kalvor
