#include "e2e_rig.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <thread>

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

Outcome RunConsole(const zeda::SimOptions& module, const std::string& script, AppOptions options) {
    Outcome result;
    int master = -1;
    std::string slave;
    char dir[] = "/tmp/kalvor-e2e-XXXXXX";
    if (!zeda::OpenPtyPair(master, slave) || !mkdtemp(dir)) {
        if (master >= 0) ::close(master);
        result.err = "no pseudo-terminal or no temporary folder";
        return result;
    }
    ::setenv("XDG_CONFIG_HOME", dir, 1);
    ::setenv("KALVOR_COM1", slave.c_str(), 1);

    zeda::Simulator sim(module);
    std::thread serving([&] { sim.Serve(master); });
    options.headless = true;
    std::string lines = script + "\n";
    for (size_t p; (p = lines.find("; ")) != std::string::npos;) lines.replace(p, 2, "\n");
    std::istringstream in(lines);
    std::ostringstream out, err;
    result.status = RunHeadless(options, in, out, err);
    sim.Stop();
    serving.join();
    ::close(master);
    result.rawOut = out.str();
    result.out = Untimed(result.rawOut);
    result.err = err.str();
    result.counters = sim.Counters();
    result.state = sim.State();
    std::filesystem::remove_all(dir);
    return result;
}

std::string Untimed(const std::string& text) {
    std::string out = text;
    for (size_t p = 0; (p = out.find("BOX [", p)) != std::string::npos; p += 4)
        if (const size_t end = out.find("] ", p); end != std::string::npos) out.erase(p + 4, end + 2 - (p + 4));
    return out;
}

int CountLines(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) ++n;
    return n;
}

}  // namespace kalvor::e2e
