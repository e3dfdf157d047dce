// kalvor-tp: the console in a window, or headless with --headless.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "app/headless/app_options.h"
#include "app/headless/headless_app.h"
#include "app/headless/script_runner.h"
#include "app/ports/port_listing.h"
#include "bench/bench_options.h"
#include "bench/supervisor.h"
#include "report/report_command.h"

#ifdef KALVOR_WITH_WINDOW
#include "app/window/window_loader.h"
#endif

int main(int argc, char** argv) {
    // A closed pipe on standard output (`| head`) is a failed write to tell, never a death.
    std::signal(SIGPIPE, SIG_IGN);
    // So is a file grown past the size limit (ulimit -f): the write fails with EFBIG.
    std::signal(SIGXFSZ, SIG_IGN);
    // The burn-in report reads results files only: no port, no window, no console.
    if (kalvor::report::WantsReport(argc, argv)) return kalvor::report::ReportMain(argc, argv, std::cout, std::cerr);
    // The bench supervises one headless session per module; it opens no port itself.
    if (kalvor::bench::WantsBench(argc, argv)) return kalvor::bench::BenchMain(argc, argv);
    kalvor::AppOptions options;
    const std::string bad = kalvor::ParseOptions(argc, argv, options);
    if (!bad.empty()) {
        // One line for the reason, so that a log's last line says what was wrong.
        std::cerr << "kalvor-tp: " << bad << "\nTry 'kalvor-tp --help'.\n";
        return 2;
    }
    if (options.help) {
        std::cout << kalvor::UsageText();
        return 0;
    }
    if (options.version) {
        std::cout << "kalvor-tp " << kalvor::kProgramVersion << "\n";
        return 0;
    }
    if (options.listPorts) return kalvor::ListPorts(options, std::cout);
    if (options.headless) {
        if (options.script.empty()) return kalvor::RunHeadless(options, std::cin, std::cout, std::cerr);
        const std::string problem = kalvor::ScriptFileProblem(options.script);
        std::ifstream script;
        if (problem.empty()) script.open(options.script);
        if (!problem.empty() || !script) {
            std::cerr << "kalvor-tp: cannot read the script " << options.script << ": "
                      << (problem.empty() ? "cannot be opened" : problem) << "\n";
            return 2;
        }
        return kalvor::RunHeadless(options, script, std::cout, std::cerr);
    }
    // With no display the window's platform plugin would abort the process: say so instead.
    auto set = [](const char* name) { const char* v = std::getenv(name); return v != nullptr && *v != '\0'; };
    bool platformGiven = false;
    for (const std::string& a : options.passThrough) platformGiven = platformGiven || a.rfind("-platform", 0) == 0;
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM") && !platformGiven) {
        std::cerr << "kalvor-tp: no display to open the window on (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are\n"
                     "not set): use --headless, or run it in a desktop session\n";
        return 2;
    }
#ifdef KALVOR_WITH_WINDOW
    // The window lives in a module of its own, loaded only now, so that the headless host above
    // never maps Qt's libraries (it stays a few megabytes resident).
    return kalvor::RunWindowModule(argc, argv, options);
#else
    std::cerr << "kalvor-tp: built without a window; use --headless\n";
    return 2;
#endif
}
