#include "app/ports/port_probe.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace kalvor {

namespace {

std::string GroupName(gid_t gid) {
    group g{};
    group* found = nullptr;
    char buf[4096];
    if (getgrgid_r(gid, &g, buf, sizeof buf, &found) == 0 && found != nullptr) return found->gr_name;
    return std::to_string(gid);
}

// Another process with the character device `rdev` open: "NAME (pid N)", or "" when none is
// seen. Processes of other users are seen only by root.
std::string HolderOf(dev_t rdev) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return {};
    std::string holder;
    const pid_t self = ::getpid();
    while (dirent* e = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self) continue;
        const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) continue;
        while (dirent* f = ::readdir(fds)) {
            struct stat st{};
            if (f->d_name[0] == '.' || ::stat((fdDir + "/" + f->d_name).c_str(), &st) != 0) continue;
            if (S_ISCHR(st.st_mode) && st.st_rdev == rdev) {
                std::string name;
                std::getline(std::ifstream(std::string("/proc/") + e->d_name + "/comm"), name);
                holder = (name.empty() ? std::string("a program") : name) + " (pid " + e->d_name + ")";
                break;
            }
        }
        ::closedir(fds);
        if (!holder.empty()) break;
    }
    ::closedir(proc);
    return holder;
}

// A UUCP-style lock file of a living process for the device (as terminal programs leave them).
std::string LockFileOf(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        const std::string lock = std::string(folder) + "/LCK.." + name;
        std::ifstream in(lock);
        long pid = 0;
        if (in >> pid && pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            return lock + " of pid " + std::to_string(pid);
    }
    return {};
}

}  // namespace

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

PortState ProbePort(const std::string& path) {
    PortState s;
    struct stat st{};
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
    const std::string group = GroupName(st.st_gid);
    const std::string permissionHint =
        "needs group " + group + " (as root: adduser USERNAME " + group + ", then log in again)";
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        s.kind = PortState::Kind::NotPermitted;
        s.detail = permissionHint;
        return s;
    }
    // Opening a line that another program has open changes nothing on it; one that it opened
    // exclusively refuses us before anything is touched.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        if (err == EBUSY) {
            s.kind = PortState::Kind::Busy;
            s.detail = "another program (opened exclusively)";
        } else if (err == EACCES || err == EPERM) {
            s.kind = PortState::Kind::NotPermitted;
            s.detail = permissionHint;
        } else {
            s.kind = PortState::Kind::Unusable;
            s.detail = std::strerror(err);
        }
    } else {
        s.kind = PortState::Kind::Free;
        int exclusive = 0;
        if (termios t{}; ::tcgetattr(fd, &t) != 0) {
            s.kind = PortState::Kind::Unusable;
            s.detail = "not a terminal device";
        } else if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            // Root opens through another program's exclusive mode; the mode still tells.
            s.kind = PortState::Kind::Busy;
            s.detail = "another program (opened exclusively)";
        } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            s.kind = PortState::Kind::Busy;
            s.detail = "another program (locked)";
        }
        ::close(fd);  // also drops the lock just taken
    }
    if (s.kind != PortState::Kind::Free && s.kind != PortState::Kind::Busy) return s;
    // Name the holder where it can be seen: a process with the device open, or a lock file.
    std::string holder = HolderOf(st.st_rdev);
    if (holder.empty()) holder = LockFileOf(path);
    if (!holder.empty()) {
        s.kind = PortState::Kind::Busy;
        s.detail = holder;
    }
    return s;
}

}  // namespace kalvor
