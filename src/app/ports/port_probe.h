// Whether this user may open a serial device and whether another program holds it, found out
// without disturbing a program that has it: an exclusive open is refused before anything is
// touched, and a device that is free is opened non-blocking and closed again at once.
#pragma once

#include <string>

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

PortState ProbePort(const std::string& path);

}  // namespace kalvor
