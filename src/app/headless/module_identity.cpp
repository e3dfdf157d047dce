#include "app/headless/module_identity.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace kalvor {

namespace {

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path c = fs::canonical(path, ec);
    return ec ? std::string() : c.string();
}

// The first line of a sysfs attribute, without its line end; "" when there is none.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

}  // namespace

std::string UsbAdapterOf(const std::string& kernelName, const std::string& sysTty) {
    if (kernelName.empty() || kernelName.find('/') != std::string::npos) return {};
    // The tty's device is a port of a USB interface; the USB device, a few levels up, is the one
    // with idVendor and idProduct.
    std::string dir = Canonical(sysTty + "/" + kernelName + "/device");
    for (int up = 0; up < 6 && !dir.empty() && dir != "/"; ++up) {
        const fs::path d(dir);
        const std::string vendor = Attribute(d / "idVendor"), product = Attribute(d / "idProduct");
        if (!vendor.empty() && !product.empty()) {
            const std::string serial = Attribute(d / "serial");
            return vendor + ":" + product + (serial.empty() ? "" : " serial " + serial);
        }
        dir = d.parent_path().string();
    }
    return {};
}

std::string StationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

RecordIdentity IdentifyModule(const std::string& module, const std::string& portPath, const std::string& byIdFolder,
                              const std::string& sysTty) {
    RecordIdentity id;
    id.port = portPath;
    id.station = StationName();
    const std::string real = Canonical(portPath);
    if (!real.empty()) {
        // The kernel's name: "ttyUSB0", or "pts/3" for a pseudo-terminal.
        id.device = real.rfind("/dev/", 0) == 0 ? real.substr(5) : fs::path(real).filename().string();
        id.adapter = UsbAdapterOf(fs::path(real).filename().string(), sysTty);
    }
    id.module = module;
    if (id.module.empty() && !real.empty()) {
        // The port's by-id name: the port itself when it is one, else the first link to the device.
        if (fs::path(portPath).parent_path() == fs::path(byIdFolder)) {
            id.module = fs::path(portPath).filename().string();
        } else {
            std::vector<std::string> names;
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(byIdFolder, ec))
                if (Canonical(entry.path().string()) == real) names.push_back(entry.path().filename().string());
            std::sort(names.begin(), names.end());
            if (!names.empty()) id.module = names.front();
        }
    }
    if (id.module.empty()) id.module = portPath;
    return id;
}

}  // namespace kalvor
