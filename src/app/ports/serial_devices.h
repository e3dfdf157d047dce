// The serial devices present on this machine, as the kernel's sysfs tells them: every tty that
// belongs to a piece of hardware (an on-board UART, a USB adapter, a modem), with its stable
// by-id names and what the USB descriptors (and udev's database, where udev runs) say about it.
// Nothing is opened.
#pragma once

#include <string>
#include <vector>

#include "serial/port_access.h"

namespace kalvor {

struct SerialDevice {
    std::string node;               // /dev/ttyUSB0
    std::string kernelName;         // ttyUSB0
    std::vector<std::string> byId;  // /dev/serial/by-id/... names that lead to it
    std::string driver;             // the kernel driver: cdc_acm, serial8250, a USB serial driver, ...
    std::string usbVendorId;        // "0403"; empty when it is not a USB device
    std::string usbProductId;       // "6001"
    std::string vendor;             // manufacturer string or database name, where known
    std::string product;
    std::string serial;             // the adapter's serial number, where known
    bool pseudoTerminal = false;    // a /dev/pts/N named by a COMn mapping, not found by udev
};

struct SerialScan {
    std::vector<SerialDevice> devices;  // by node name
    int hiddenUarts = 0;                // ttyS lines with no UART behind them, not listed
    std::string problem;                // why sysfs could not be read ("" when it could)
};

// Reads <sys>/class/tty and the devices behind it, udev's records under <udevData> where they
// exist, and the <dev>/serial/by-id folder.
SerialScan ScanSerialDevices(const SystemRoots& roots = {});

// The names in `folder` (normally /dev/serial/by-id) that resolve to `node`, sorted.
std::vector<std::string> LinksTo(const std::string& folder, const std::string& node);

}  // namespace kalvor
