// Who is who in the records: the module's name, the port as given, the kernel's device name, the
// USB adapter behind it and the station, found when the port is opened. Read from the file
// system only (/dev/serial/by-id, /sys/class/tty): the headless host links no udev library.
#pragma once

#include <string>

#include "burnin/burn_in_recorder.h"

namespace kalvor {

// The identity of the module on `portPath` (the path the console opened, as given). `module` is
// the --module NAME; when empty, the name of the /dev/serial/by-id link that leads to the device,
// else the path itself. `byIdFolder` and `sysTty` are where to look (tests point them elsewhere).
RecordIdentity IdentifyModule(const std::string& module, const std::string& portPath,
                              const std::string& byIdFolder = "/dev/serial/by-id",
                              const std::string& sysTty = "/sys/class/tty");

// "0403:6001 serial A1B2C3" for the tty `kernelName` (e.g. "ttyUSB0") from sysfs, or "" when no
// USB device is behind it.
std::string UsbAdapterOf(const std::string& kernelName, const std::string& sysTty = "/sys/class/tty");

// The host's name, or "" when it has none.
std::string StationName();

}  // namespace kalvor
