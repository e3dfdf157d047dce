#include "app/ports/port_listing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "console/profile.h"
#include "serial/comm.h"

namespace kalvor {

namespace {

// Where a path leads; a path that leads nowhere (yet) stands for itself.
std::string Canonical(const std::string& path) {
    std::error_code ec;
    const auto c = std::filesystem::canonical(path, ec);
    return ec ? path : c.string();
}

bool IsPseudoTerminal(const std::string& canonical) { return canonical.rfind("/dev/pts/", 0) == 0; }

// "COM1, COM3" for the mappings that lead to `node`.
std::string ComsLeadingTo(const std::vector<ComMapping>& coms, const std::string& node) {
    std::string names;
    for (const ComMapping& c : coms)
        if (!c.path.empty() && Canonical(c.path) == node) names += (names.empty() ? "" : ", ") + ("COM" + std::to_string(c.port));
    return names;
}

}  // namespace

std::vector<ComMapping> ResolveComMappings(const AppOptions& options,
                                           const std::function<std::string(const std::string&)>& profileLookup,
                                           const std::string& profilePath) {
    std::vector<ComMapping> coms;
    for (int n = 1; n <= 4; ++n) {
        ComMapping m;
        m.port = n;
        const auto given = std::find_if(options.ports.begin(), options.ports.end(),
                                        [n](const auto& p) { return p.first == n; });
        if (given != options.ports.end()) {
            m.path = given->second;
            m.source = "--port";
        } else if (n == 1 && options.simulate >= 0) {
            m.source = "--simulate";
        } else {
            ComSource from = ComSource::Default;
            m.path = ResolveComPath(n, profileLookup, &from);
            m.source = from == ComSource::Environment ? "environment KALVOR_COM" + std::to_string(n)
                       : from == ComSource::Profile   ? "profile " + profilePath + " [COMPORTS]"
                                                      : "default";
        }
        coms.push_back(std::move(m));
    }
    return coms;
}

void WritePortListing(std::ostream& out, const std::vector<ComMapping>& coms, SerialScan scan,
                      const std::string& rememberedPort, const std::function<PortState(const std::string&)>& probe) {
    // Pseudo-terminals that a mapping names are no hardware and unknown to udev: listed as such.
    for (const ComMapping& c : coms) {
        const std::string node = c.path.empty() ? std::string() : Canonical(c.path);
        if (!IsPseudoTerminal(node)) continue;
        if (std::none_of(scan.devices.begin(), scan.devices.end(), [&](const SerialDevice& d) { return d.node == node; })) {
            SerialDevice d;
            d.node = node;
            d.kernelName = node.substr(5);
            d.pseudoTerminal = true;
            scan.devices.push_back(std::move(d));
        }
    }

    out << "COM ports (first found wins: --port, KALVOR_COMn, the profile's [COMPORTS], /dev/ttyS<n-1>):\n";
    for (const ComMapping& c : coms) {
        out << "  COM" << c.port << "  ";
        if (c.path.empty()) {
            out << "the built-in simulated module  (" << c.source << ")\n";
            continue;
        }
        out << c.path << "  (" << c.source << ")  ";
        const std::string node = Canonical(c.path);
        const auto dev = std::find_if(scan.devices.begin(), scan.devices.end(),
                                      [&](const SerialDevice& d) { return d.node == node; });
        if (dev != scan.devices.end() && dev->pseudoTerminal) out << "pseudo-terminal " << node << ", ";
        else if (dev != scan.devices.end()) out << dev->kernelName << ", ";
        else if (node != c.path) out << "-> " << node << ", ";
        out << DescribePortState(probe(c.path)) << "\n";
    }
    int start = 0;
    std::string why;
    for (const ComMapping& c : coms)
        if (c.source == "--port" || c.source == "--simulate") {
            start = c.port;
            why = c.source;
            break;
        }
    if (start == 0) {
        const char first = rememberedPort.empty() ? '\0' : rememberedPort[0];
        start = first >= '1' && first <= '4' ? first - '0' : 1;
        why = first >= '1' && first <= '4' ? "remembered in the profile" : "nothing remembered";
    }
    out << "The console starts on COM" << start << " (" << why << ").\n\nSerial devices:\n";

    bool anyById = false;
    for (const SerialDevice& d : scan.devices) {
        out << "  " << d.node;
        if (const std::string names = ComsLeadingTo(coms, d.node); !names.empty()) out << "  (" << names << ")";
        out << "\n";
        for (const std::string& link : d.byId) out << "      by-id   " << link << "\n";
        anyById = anyById || !d.byId.empty();
        if (d.pseudoTerminal) out << "      kind    pseudo-terminal (no hardware)\n";
        if (!d.driver.empty()) out << "      driver  " << d.driver << "\n";
        if (!d.usbVendorId.empty()) {
            out << "      USB     " << d.usbVendorId << ":" << d.usbProductId;
            if (!d.vendor.empty()) out << "  " << d.vendor;
            if (!d.product.empty()) out << "  " << d.product;
            if (!d.serial.empty()) out << "  serial " << d.serial;
            out << "\n";
        }
        out << "      state   " << DescribePortState(probe(d.node)) << "\n";
    }
    if (scan.devices.empty()) out << "  none found\n";
    if (scan.hiddenUarts > 0)
        out << "  (" << scan.hiddenUarts << " ttyS line" << (scan.hiddenUarts == 1 ? "" : "s")
            << " with no UART behind it not listed)\n";
    if (!scan.problem.empty()) out << "  (" << scan.problem << ")\n";
    if (!anyById)
        out << "No /dev/serial/by-id names: they exist only while a USB serial adapter is plugged in.\n";
}

int ListPorts(const AppOptions& options, std::ostream& out, const SystemRoots& roots) {
    IniProfile profile(IniProfile::DefaultPath());
    const auto lookup = [&profile](const std::string& key) { return profile.GetString("COMPORTS", key); };
    const std::vector<ComMapping> coms = ResolveComMappings(options, lookup, profile.Path());
    WritePortListing(out, coms, ScanSerialDevices(roots), profile.GetString("KALVOR", "PORT"),
                     [&roots](const std::string& path) { return ProbePort(path, roots); });
    return out ? kExitOk : kExitBadOptions;
}

}  // namespace kalvor
