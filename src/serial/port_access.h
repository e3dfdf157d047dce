// Who holds a serial device and why this user may not open it, found without opening it: the
// open descriptors of the processes under /proc, the flock table (/proc/locks), UUCP lock files,
// and the node's owner, group and mode. Used where an open failed (the Message pane's line) and
// by --list-ports, which must disturb nothing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kalvor {

// Where the system's tables are; a test points them into a made-up tree.
struct SystemRoots {
    std::string sys = "/sys";
    std::string proc = "/proc";
    std::string dev = "/dev";
    std::vector<std::string> lockDirs = {"/run/lock", "/var/lock"};
    std::string udevData = "/run/udev/data";  // udev's database: by-id names and vendor names
};

// The process that has `path` open or locked: "minicom (pid 42)", "pid 42 (lock file
// /run/lock/LCK..ttyUSB0)"; "" when none is seen. Descriptors of other users' processes are seen
// only by root; their flock locks and lock files by everybody.
std::string HolderOf(const std::string& path, const SystemRoots& roots = {});

// The advice for a device this user may not open, from its owner, group and mode: the group to
// join only when that group may read and write it, with the user's own name.
std::string PermissionAdvice(const std::string& path);
std::string PermissionAdvice(mode_t mode, const std::string& owner, const std::string& group,
                             const std::string& user, bool userInGroup);

// The name of the user running this program (its uid's name, else $USER, else the uid).
std::string CurrentUserName();

}  // namespace kalvor
