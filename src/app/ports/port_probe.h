// Whether this user may open a serial device and whether another program holds it, found out
// without opening it (opening a line raises its DTR and would make a console that opens it at
// the same moment fail): the node's mode and access(), the kernel's record of the device, the
// processes' open descriptors, the flock table and lock files.
#pragma once

#include <string>

#include "serial/port_access.h"

namespace kalvor {

struct PortState {
    enum class Kind {
        Missing,       // no such path (an adapter that is not plugged in, a dangling by-id name)
        NotPermitted,  // this user may not open it
        Busy,          // another program holds it
        Free,          // this user may open it and nobody holds it
        Unusable,      // it exists but cannot be opened as a serial line (the reason in detail)
    };
    Kind kind = Kind::Missing;
    std::string detail;  // who holds it, which group it needs, or the system's reason
};

// The short text of a state: "free", "not present", "in use by kalvor-tp (pid 42)", ...
std::string DescribePortState(const PortState& state);

PortState ProbePort(const std::string& path, const SystemRoots& roots = {});

}  // namespace kalvor
