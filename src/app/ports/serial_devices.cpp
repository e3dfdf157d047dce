#include "app/ports/serial_devices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace kalvor {

namespace fs = std::filesystem;

namespace {

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const auto c = fs::canonical(path, ec);
    return ec ? path : c.string();
}

// The first line of a sysfs attribute, without its line end ("" when there is none).
std::string ReadLine(const fs::path& file) {
    std::string line;
    std::getline(std::ifstream(file), line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// The last part of where a link leads (the name of a device's driver or subsystem).
std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

bool Within(const fs::path& p, const fs::path& top) {
    const std::string s = p.string(), t = top.string();
    return s.size() > t.size() && s.compare(0, t.size(), t) == 0 && s[t.size()] == '/';
}

// The first driver bound to the device or one of its parents (a tty itself has none; its port
// or interface has). The serial core's own "port" and "ctrl" layers say nothing about the
// hardware and are passed over.
std::string DriverOf(const fs::path& device, const fs::path& devices) {
    std::error_code ec;
    for (fs::path d = device; Within(d, devices); d = d.parent_path()) {
        if (LinkName(d / "subsystem") == "serial-base") continue;
        if (fs::is_symlink(d / "driver", ec)) return LinkName(d / "driver");
    }
    return {};
}

// What udev recorded about the device ("E:KEY=VALUE" properties, "S:link" names), if it runs.
struct UdevRecord {
    std::map<std::string, std::string> properties;
    std::vector<std::string> links;
};

UdevRecord ReadUdevRecord(const std::string& file) {
    UdevRecord r;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("E:", 0) == 0) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) r.properties[line.substr(2, eq - 2)] = line.substr(eq + 1);
        } else if (line.rfind("S:", 0) == 0) {
            r.links.push_back(line.substr(2));
        }
    }
    return r;
}

}  // namespace

std::vector<std::string> LinksTo(const std::string& folder, const std::string& node) {
    std::vector<std::string> links;
    std::error_code ec;
    const std::string target = Canonical(node);
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string path = entry.path().string();
        if (Canonical(path) == target) links.push_back(path);
    }
    std::sort(links.begin(), links.end());
    return links;
}

SerialScan ScanSerialDevices(const SystemRoots& roots) {
    SerialScan scan;
    const fs::path classDir = fs::path(roots.sys) / "class" / "tty";
    const fs::path devices = Canonical(roots.sys + "/devices");
    const std::string byIdFolder = roots.dev + "/serial/by-id";
    std::error_code ec;
    fs::directory_iterator entries(classDir, ec);
    if (ec) {
        scan.problem = "cannot read " + classDir.string() + ": " + ec.message();
        return scan;
    }
    for (const auto& entry : entries) {
        const fs::path tty = entry.path();
        // Virtual terminals, the console and ptmx have no device behind them: not serial lines.
        if (!fs::exists(tty / "device", ec)) continue;
        // The serial core reports the UART type; 0 is a line with no UART behind it (most of
        // the 32 ttyS lines a PC kernel makes).
        if (ReadLine(tty / "type") == "0") {
            ++scan.hiddenUarts;
            continue;
        }
        SerialDevice d;
        d.kernelName = tty.filename().string();
        d.node = roots.dev + "/" + d.kernelName;
        const fs::path device = Canonical((tty / "device").string());
        d.driver = DriverOf(device, devices);
        const UdevRecord udev = ReadUdevRecord(roots.udevData + "/c" + ReadLine(tty / "dev"));
        const auto property = [&](const char* key) {
            const auto p = udev.properties.find(key);
            return p == udev.properties.end() ? std::string() : p->second;
        };
        // The USB device the line belongs to: the nearest parent with the USB descriptors.
        for (fs::path p = device; Within(p, devices); p = p.parent_path()) {
            if (!fs::exists(p / "idVendor", ec)) continue;
            const auto either = [&](const char* key, const char* attribute) {
                const std::string v = property(key);
                return v.empty() && attribute != nullptr ? ReadLine(p / attribute) : v;
            };
            d.usbVendorId = either("ID_VENDOR_ID", "idVendor");
            d.usbProductId = either("ID_MODEL_ID", "idProduct");
            d.vendor = either("ID_VENDOR_FROM_DATABASE", "manufacturer");
            if (d.vendor.empty()) d.vendor = property("ID_VENDOR");
            d.product = either("ID_MODEL_FROM_DATABASE", "product");
            d.serial = either("ID_SERIAL_SHORT", "serial");
            break;
        }
        // by-id names: those udev recorded, and those in the folder now.
        for (const std::string& link : udev.links)
            if (link.rfind("serial/by-id/", 0) == 0) d.byId.push_back(roots.dev + "/" + link);
        for (const std::string& link : LinksTo(byIdFolder, d.node))
            if (std::find(d.byId.begin(), d.byId.end(), link) == d.byId.end()) d.byId.push_back(link);
        std::sort(d.byId.begin(), d.byId.end());
        scan.devices.push_back(std::move(d));
    }
    std::sort(scan.devices.begin(), scan.devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.node < b.node; });
    return scan;
}

}  // namespace kalvor
