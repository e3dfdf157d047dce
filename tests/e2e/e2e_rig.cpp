#include "e2e_rig.h"

#include <stdlib.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "app/headless/app_options.h"
#include "app/headless/headless_app.h"

namespace kalvor::e2e {

zeda::SimOptions FastModule(int model) {
    zeda::SimOptions o;
    o.model = model;
    o.lowerPresent = model == 2000;
    o.rejectRate = 0;
    o.timeScale = 0.1;
    o.seed = 7;
    return o;
}

Outcome RunConsole(const zeda::SimOptions& module, const std::string& script, bool trace, bool calibration) {
    Outcome result;
    int master = -1;
    std::string slave;
    if (!zeda::OpenPtyPair(master, slave)) {
        result.err = "no pseudo-terminal";
        return result;
    }
    char dir[] = "/tmp/kalvor-e2e-XXXXXX";
    if (!mkdtemp(dir)) {
        ::close(master);
        result.err = "no temporary folder";
        return result;
    }
    ::setenv("XDG_CONFIG_HOME", dir, 1);
    ::setenv("KALVOR_COM1", slave.c_str(), 1);

    zeda::Simulator sim(module);
    std::thread serving([&] { sim.Serve(master); });

    AppOptions options;
    options.headless = true;
    options.trace = trace;
    options.calibration = calibration;
    std::istringstream in(script);
    std::ostringstream out, err;
    result.status = RunHeadless(options, in, out, err);

    sim.Stop();
    serving.join();
    ::close(master);
    result.out = out.str();
    result.err = err.str();
    result.counters = sim.Counters();
    result.state = sim.State();
    const std::string cleanup = std::string("rm -rf ") + dir;
    if (std::system(cleanup.c_str()) != 0) {
    }
    return result;
}

int CountLines(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

}  // namespace kalvor::e2e
