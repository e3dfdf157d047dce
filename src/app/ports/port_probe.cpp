#include "app/ports/port_probe.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kalvor {

std::string DescribePortState(const PortState& s) {
    switch (s.kind) {
    case PortState::Kind::Missing: return "not present";
    case PortState::Kind::NotPermitted: return "not permitted" + (s.detail.empty() ? "" : ": " + s.detail);
    case PortState::Kind::Busy: return "in use" + (s.detail.empty() ? "" : " by " + s.detail);
    case PortState::Kind::Free: return "free";
    case PortState::Kind::Unusable: return "cannot be opened" + (s.detail.empty() ? "" : ": " + s.detail);
    }
    return {};
}

PortState ProbePort(const std::string& path, const SystemRoots& roots) {
    PortState s;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        s.kind = errno == ENOENT || errno == ENOTDIR ? PortState::Kind::Missing : PortState::Kind::Unusable;
        if (s.kind == PortState::Kind::Unusable) s.detail = std::strerror(errno);
        return s;
    }
    if (!S_ISCHR(st.st_mode)) {
        s.kind = PortState::Kind::Unusable;
        s.detail = "not a character device";
        return s;
    }
    // The kernel's record of the device number says what it is (pseudo-terminals have none).
    std::error_code ec;
    const std::string number = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    const std::filesystem::path subsystem =
        std::filesystem::read_symlink(roots.sys + "/dev/char/" + number + "/subsystem", ec);
    if (!ec && subsystem.filename() != "tty") {
        s.kind = PortState::Kind::Unusable;
        s.detail = "not a terminal device";
        return s;
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM)) {
        s.kind = PortState::Kind::NotPermitted;
        s.detail = PermissionAdvice(path);
        return s;
    }
    if (std::string holder = HolderOf(path, roots); !holder.empty()) {
        s.kind = PortState::Kind::Busy;
        s.detail = std::move(holder);
        return s;
    }
    s.kind = PortState::Kind::Free;
    return s;
}

}  // namespace kalvor
