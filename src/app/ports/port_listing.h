// kalvor-tp --list-ports: where COM1-COM4 lead and from where, then every serial device present.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/headless/app_options.h"
#include "app/ports/port_probe.h"
#include "app/ports/serial_devices.h"

namespace kalvor {

struct ComMapping {
    int port = 0;          // 1..4
    std::string path;      // what COMn opens; empty under --simulate
    std::string source;    // "--port", "environment KALVOR_COM2", "profile FILE", "default", "--simulate"
};

// The four mappings as this run would resolve them: the command line first (--port, --simulate),
// then the environment, the profile's [COMPORTS] and the default.
std::vector<ComMapping> ResolveComMappings(const AppOptions& options,
                                           const std::function<std::string(const std::string&)>& profileLookup,
                                           const std::string& profilePath);

// The listing. `probe` tells each path's state (ProbePort, or a stand-in in tests);
// `rememberedPort` is the profile's [KALVOR] PORT ("" when none).
void WritePortListing(std::ostream& out, const std::vector<ComMapping>& coms, SerialScan scan,
                      const std::string& rememberedPort, const std::function<PortState(const std::string&)>& probe);

// The whole of --list-ports: resolves, scans, probes and writes; opens no device. `roots` says
// where /sys, /proc, /dev and the lock folders are. Returns the exit status.
int ListPorts(const AppOptions& options, std::ostream& out, const SystemRoots& roots = {});

}  // namespace kalvor
