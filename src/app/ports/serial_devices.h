// The serial devices present on this machine, as udev knows them: every tty that belongs to a
// piece of hardware (an on-board UART, a USB adapter, a modem), with its stable by-id names and
// what the USB descriptors say about it.
#pragma once

#include <string>
#include <vector>

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
    std::string problem;                // why udev could not be asked ("" when it could)
};

// Enumerates the "tty" subsystem through libudev. Works without a running udev daemon (the
// kernel's device tree is read through libudev; the by-id folder is read where it exists).
SerialScan ScanSerialDevices();

// The names in `folder` (normally /dev/serial/by-id) that resolve to `node`, sorted.
std::vector<std::string> LinksTo(const std::string& folder, const std::string& node);

}  // namespace kalvor
