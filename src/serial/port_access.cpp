#include "serial/port_access.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kalvor {

namespace {

bool IsPid(const char* name) {
    if (*name == '\0') return false;
    for (const char* p = name; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

// "minicom (pid 42)", or "pid 42" when the process tells no name.
std::string ProcessName(const SystemRoots& roots, const std::string& pid) {
    std::string name;
    std::getline(std::ifstream(roots.proc + "/" + pid + "/comm"), name);
    return name.empty() ? "pid " + pid : name + " (pid " + pid + ")";
}

// The same device: the same character device number, or the very same node.
bool SameDevice(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string HolderByDescriptor(const struct stat& target, const SystemRoots& roots) {
    DIR* proc = ::opendir(roots.proc.c_str());
    if (proc == nullptr) return {};
    std::string holder;
    while (holder.empty()) {
        const dirent* e = ::readdir(proc);
        if (e == nullptr) break;
        if (!IsPid(e->d_name)) continue;
        const std::string fdDir = roots.proc + "/" + e->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) continue;  // another user's process, or gone meanwhile
        while (const dirent* f = ::readdir(fds)) {
            struct stat st {};
            // stat() follows the descriptor's link to what it names; it opens nothing.
            if (f->d_name[0] == '.' || ::stat((fdDir + "/" + f->d_name).c_str(), &st) != 0) continue;
            if (SameDevice(st, target)) {
                holder = ProcessName(roots, e->d_name);
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holder;
}

// A flock() lock on the node, from the kernel's table: "1: FLOCK ADVISORY WRITE 42 00:05:123 0 EOF".
std::string HolderByFlock(const struct stat& target, const SystemRoots& roots) {
    std::ifstream locks(roots.proc + "/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream in(line);
        std::string id, kind, mode, access, pid, where;
        if (!(in >> id >> kind) || kind != "FLOCK") continue;
        if (!(in >> mode >> access >> pid >> where)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (makedev(major, minor) == target.st_dev && inode == target.st_ino && IsPid(pid.c_str()))
            return ProcessName(roots, pid);
    }
    return {};
}

// A UUCP lock file (LCK..ttyUSB0) of a process that still lives.
std::string HolderByLockFile(const std::string& node, const SystemRoots& roots) {
    const std::string name = node.substr(node.rfind('/') + 1);
    for (const std::string& folder : roots.lockDirs) {
        const std::string lock = folder + "/LCK.." + name;
        std::ifstream in(lock);
        std::string pid;
        if (!(in >> pid) || !IsPid(pid.c_str())) continue;
        struct stat st {};
        if (::stat((roots.proc + "/" + pid).c_str(), &st) != 0) continue;  // a stale lock
        return ProcessName(roots, pid) + " (lock file " + lock + ")";
    }
    return {};
}

std::string GroupName(gid_t gid) {
    group g{};
    group* found = nullptr;
    char buf[8192];
    if (getgrgid_r(gid, &g, buf, sizeof buf, &found) == 0 && found != nullptr) return found->gr_name;
    return std::to_string(gid);
}

std::string UserName(uid_t uid) {
    passwd p{};
    passwd* found = nullptr;
    char buf[8192];
    if (getpwuid_r(uid, &p, buf, sizeof buf, &found) == 0 && found != nullptr) return found->pw_name;
    return {};
}

// Whether the user belongs to the group by the group database (a new member counts before the
// next login, which is when the session gets the group).
bool Member(const std::string& user, gid_t gid) {
    passwd p{};
    passwd* pw = nullptr;
    char pbuf[8192];
    if (getpwnam_r(user.c_str(), &p, pbuf, sizeof pbuf, &pw) == 0 && pw != nullptr && pw->pw_gid == gid) return true;
    group g{};
    group* found = nullptr;
    char buf[8192];
    if (getgrgid_r(gid, &g, buf, sizeof buf, &found) != 0 || found == nullptr) return false;
    for (char** m = found->gr_mem; m != nullptr && *m != nullptr; ++m)
        if (user == *m) return true;
    return false;
}

}  // namespace

std::string HolderOf(const std::string& path, const SystemRoots& roots) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) return {};
    std::string holder = HolderByDescriptor(target, roots);
    if (holder.empty()) holder = HolderByFlock(target, roots);
    // Lock files are named after the node a program opened: the name given, or where it leads.
    if (holder.empty()) holder = HolderByLockFile(path, roots);
    char resolved[4096];
    if (holder.empty() && ::realpath(path.c_str(), resolved) != nullptr) holder = HolderByLockFile(resolved, roots);
    return holder;
}

std::string CurrentUserName() {
    std::string name = UserName(::getuid());
    if (name.empty()) {
        const char* env = std::getenv("USER");
        name = env != nullptr && *env != '\0' ? env : std::to_string(::getuid());
    }
    return name;
}

std::string PermissionAdvice(mode_t mode, const std::string& owner, const std::string& group,
                             const std::string& user, bool userInGroup) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(mode & 0777));
    if ((mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        if (userInGroup)
            return "needs group " + group + ": " + user + " is in it, but this session started before (log in again)";
        return "needs group " + group + " (as root: adduser " + user + " " + group + ", then log in again)";
    }
    return "mode " + std::string(octal) + ": only its owner " + owner + " may read and write it, no group may (as root, give it a "
           "group with read and write, for example by a udev rule, and add " + user + " to that group)";
}

std::string PermissionAdvice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    const std::string user = CurrentUserName();
    std::string owner = UserName(st.st_uid);
    if (owner.empty()) owner = std::to_string(st.st_uid);
    return PermissionAdvice(st.st_mode, owner, GroupName(st.st_gid), user, Member(user, st.st_gid));
}

}  // namespace kalvor
