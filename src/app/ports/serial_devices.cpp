#include "app/ports/serial_devices.h"

#include <libudev.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <system_error>

namespace kalvor {

namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id";

std::string Str(const char* s) { return s != nullptr ? s : ""; }

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const auto c = std::filesystem::canonical(path, ec);
    return ec ? path : c.string();
}

// The first driver bound to the device or one of its parents (a tty itself has none; its
// parent port or interface has). The serial core's own "port" and "ctrl" layers say nothing
// about the hardware and are passed over.
std::string DriverOf(udev_device* dev) {
    for (udev_device* d = dev; d != nullptr; d = udev_device_get_parent(d)) {
        if (Str(udev_device_get_subsystem(d)) == "serial-base") continue;
        if (const char* driver = udev_device_get_driver(d); driver != nullptr && *driver != '\0') return driver;
    }
    return {};
}

// A udev property where the daemon has recorded one, else the USB device's own attribute.
std::string PropertyOr(udev_device* dev, const char* property, udev_device* usb, const char* attribute) {
    std::string v = Str(udev_device_get_property_value(dev, property));
    if (v.empty() && usb != nullptr && attribute != nullptr) v = Str(udev_device_get_sysattr_value(usb, attribute));
    while (!v.empty() && (v.back() == '\n' || v.back() == ' ')) v.pop_back();
    return v;
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

}  // namespace

std::vector<std::string> LinksTo(const std::string& folder, const std::string& node) {
    std::vector<std::string> links;
    std::error_code ec;
    const std::string target = Canonical(node);
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string path = entry.path().string();
        if (Canonical(path) == target) links.push_back(path);
    }
    std::sort(links.begin(), links.end());
    return links;
}

SerialScan ScanSerialDevices() {
    SerialScan scan;
    std::unique_ptr<udev, UdevDeleter> u(udev_new());
    if (!u) {
        scan.problem = "udev cannot be asked (udev_new failed)";
        return scan;
    }
    std::unique_ptr<udev_enumerate, UdevDeleter> e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "tty") < 0 || udev_enumerate_scan_devices(e.get()) < 0) {
        scan.problem = "udev cannot list the tty devices";
        return scan;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        std::unique_ptr<udev_device, UdevDeleter> dev(
            udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!dev) continue;
        // Virtual terminals, the console and ptmx have no parent device: not serial lines.
        if (udev_device_get_parent(dev.get()) == nullptr) continue;
        const char* node = udev_device_get_devnode(dev.get());
        if (node == nullptr) continue;
        // The serial core reports the UART type; 0 is a line with no UART behind it (most of
        // the 32 ttyS lines a PC kernel makes).
        if (const char* type = udev_device_get_sysattr_value(dev.get(), "type"); type != nullptr && Str(type) == "0") {
            ++scan.hiddenUarts;
            continue;
        }
        SerialDevice d;
        d.node = node;
        d.kernelName = Str(udev_device_get_sysname(dev.get()));
        d.driver = DriverOf(dev.get());
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev.get(), "usb", "usb_device");
        if (usb != nullptr) {
            d.usbVendorId = PropertyOr(dev.get(), "ID_VENDOR_ID", usb, "idVendor");
            d.usbProductId = PropertyOr(dev.get(), "ID_MODEL_ID", usb, "idProduct");
            d.vendor = PropertyOr(dev.get(), "ID_VENDOR_FROM_DATABASE", usb, "manufacturer");
            if (d.vendor.empty()) d.vendor = PropertyOr(dev.get(), "ID_VENDOR", nullptr, nullptr);
            d.product = PropertyOr(dev.get(), "ID_MODEL_FROM_DATABASE", usb, "product");
            d.serial = PropertyOr(dev.get(), "ID_SERIAL_SHORT", usb, "serial");
        }
        // by-id names: those udev recorded, and those in the folder now.
        std::istringstream links(Str(udev_device_get_property_value(dev.get(), "DEVLINKS")));
        for (std::string link; links >> link;)
            if (link.rfind(std::string(kByIdFolder) + "/", 0) == 0) d.byId.push_back(link);
        for (const std::string& link : LinksTo(kByIdFolder, d.node))
            if (std::find(d.byId.begin(), d.byId.end(), link) == d.byId.end()) d.byId.push_back(link);
        std::sort(d.byId.begin(), d.byId.end());
        scan.devices.push_back(std::move(d));
    }
    std::sort(scan.devices.begin(), scan.devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.node < b.node; });
    return scan;
}

}  // namespace kalvor
