// zeda-sim: the dispenser module simulator as a program.
//
// Without --device it creates a pseudo-terminal and prints its slave path on the first line of standard
// output, so that a script can read the path and start the console on it.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "zeda_cli.h"
#include "zeda_simulator.h"

namespace {

zeda::Simulator* g_simulator = nullptr;

extern "C" void OnTerminate(int) {
    // Stop() only stores a flag and writes one byte to a pipe, both safe in a signal handler.
    if (g_simulator) g_simulator->Stop();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "zeda-sim";
    zeda::CliConfig cfg;
    std::string error;
    if (!zeda::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), cfg, error)) {
        std::cerr << "zeda-sim: " << error << "\nTry '" << program << " --help'.\n";
        return 2;
    }
    if (cfg.help) {
        std::cout << zeda::UsageText(program);
        return 0;
    }
    if (cfg.version) {
        std::cout << zeda::VersionText() << "\n";
        return 0;
    }
    if (cfg.verbose) cfg.options.log = &std::cerr;

    int fd = -1;
    std::string path;
    if (cfg.device.empty()) {
        if (!zeda::OpenPtyPair(fd, path)) {
            std::perror("zeda-sim: cannot create a pseudo-terminal");
            return 1;
        }
    } else {
        fd = zeda::OpenSerialDevice(cfg.device, cfg.options.baud, cfg.options.parity, &error);
        if (fd < 0) {
            std::cerr << "zeda-sim: " << error << "\n";
            return 1;
        }
        path = cfg.device;
    }

    zeda::Simulator simulator(cfg.options);
    g_simulator = &simulator;
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!cfg.link.empty() && !zeda::MakeLink(cfg.link, path, error)) {
        std::cerr << "zeda-sim: " << error << "\n";
        ::close(fd);
        return 1;
    }
    std::cout << path << std::endl;  // first line: where the console connects; flushed at once

    const int result = simulator.Serve(fd);
    g_simulator = nullptr;
    // The name goes before the line does, as a by-id name goes when an adapter is pulled.
    if (!cfg.link.empty()) zeda::RemoveLink(cfg.link, path);
    ::close(fd);
    std::cerr << zeda::FormatCounters(simulator.Counters(), simulator.State());
    if (result != 0) {
        std::cerr << "zeda-sim: the line could not be served\n";
        return 1;
    }
    return 0;
}
