#include "console/profile.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace kalvor {

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void MakeParentDirs(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

std::string Reason() { return std::strerror(errno); }

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a profile path finally names: symbolic links followed, relative ones from their own
// folder. A link to nothing yet names the file it points at.
bool FollowLinks(std::string path, std::string& target, std::string& error) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                error = path + ": " + Reason();
                return false;
            }
            target = path;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0) {
            error = path + ": " + Reason();
            return false;
        }
        const std::string to(link, static_cast<size_t>(n));
        path = !to.empty() && to[0] == '/' ? to : Folder(path) + "/" + to;
    }
    error = path + ": too many levels of symbolic links";
    return false;
}

// The whole file; `exists` false when there is none. False with `error` when it cannot be read,
// or is no file to read whole: a FIFO or a device (never waited on), or one above 1 MiB.
bool ReadWhole(const std::string& path, std::string& text, bool& exists, struct stat& st, std::string& error) {
    constexpr size_t kMaxBytes = 1 << 20;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    exists = fd >= 0;
    if (fd < 0) {
        if (errno == ENOENT) return true;
        error = path + " cannot be read: " + Reason();
        return false;
    }
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) error = path + " cannot be read: " + Reason();
    if (ok && !S_ISREG(st.st_mode) && path != "/dev/null") {
        error = path + " cannot be read: it is not a regular file";
        ok = false;
    }
    if (ok && static_cast<size_t>(st.st_size) > kMaxBytes) {
        error = path + " cannot be read: it is larger than 1 MiB";
        ok = false;
    }
    char buffer[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, static_cast<size_t>(n));
        else if (n == 0) break;
        else if (errno != EINTR) {
            error = path + " cannot be read: " + Reason();
            ok = false;
        }
        if (ok && text.size() > kMaxBytes) {  // grown while read
            error = path + " cannot be read: it is larger than 1 MiB";
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string GroupName(gid_t gid) {
    const struct group* g = ::getgrgid(gid);
    return g && g->gr_name ? g->gr_name : std::to_string(gid);
}

// Holds an exclusive lock on a lock file while it lives.
class FileLock {
public:
    bool Take(const std::string& path, std::string& error) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            error = "cannot open the lock file " + path + ": " + Reason();
            return false;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            error = "cannot lock " + path + ": " + Reason();
            return false;
        }
        return true;
    }
    ~FileLock() {
        if (m_fd >= 0) ::close(m_fd);  // releases the lock
    }

private:
    int m_fd = -1;
};

// Replaces `path` with `text` through a temporary file of its own in the same folder: written,
// synced, given the old file's mode and owner, renamed over it; then the folder is synced.
// A group the user is not in cannot be given to the new file: it keeps the user's group then
// (owner and mode as they were), and `note` says so.
bool ReplaceFile(const std::string& path, const std::string& text, bool existed, const struct stat& old,
                 std::string& error, std::string& note) {
    const std::string folder = Folder(path);
    std::string temp = folder + "/." + BaseName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a file in " + folder + ": " + Reason();
        return false;
    }
    bool ok = WriteAll(fd, text);
    if (!ok) error = "cannot write " + temp + ": " + Reason();
    if (ok && ::fchmod(fd, existed ? (old.st_mode & 07777) : 0600) != 0) {
        error = "cannot set the mode of " + temp + ": " + Reason();
        ok = false;
    }
    struct stat made {};
    if (ok && existed && ::fstat(fd, &made) == 0 && (old.st_uid != made.st_uid || old.st_gid != made.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        if (errno == EPERM && old.st_uid == made.st_uid) {
            note = "the profile " + path + " could not keep its group " + GroupName(old.st_gid) +
                   " (the user is not in it): it was saved with the group " + GroupName(made.st_gid);
        } else {
            error = "cannot keep the owner of " + path + ": " + Reason();
            ok = false;
        }
    }
    if (ok && ::fsync(fd) != 0) {
        error = "cannot write " + temp + ": " + Reason();
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = "cannot write " + temp + ": " + Reason();
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + Reason();
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is durable only once the folder is synced.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        if (::fsync(dir) != 0 && errno != EINVAL) {
            error = "cannot sync the folder " + folder + ": " + Reason();
            ok = false;
        }
        ::close(dir);
    }
    return ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

IniProfile::IniProfile(std::string path) : m_path(std::move(path)) {}

std::string IniProfile::DefaultPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (xdg && *xdg) {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : ".") + "/.config";
    }
    return dir + "/kalvor-tp.ini";
}

std::string IniProfile::GetString(const std::string& section, const std::string& key,
                                  const std::string& fallback) {
    m_lastError.clear();
    std::string text;
    bool exists = false;
    struct stat st {};
    if (!ReadWhole(m_path, text, exists, st, m_lastError)) return fallback;
    std::string current;
    for (const std::string& raw : SplitLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            current = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !SameName(current, section)) continue;
        if (SameName(Trim(line.substr(0, eq)), key)) return Trim(line.substr(eq + 1));
    }
    return fallback;
}

bool IniProfile::Fail(const std::string& why) {
    m_lastError = why;
    return false;
}

bool IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
    m_lastError.clear();
    m_lastNote.clear();
    std::string target, error;
    if (!FollowLinks(m_path, target, error)) return Fail(error);
    MakeParentDirs(target);
    // Two consoles writing at once each read, change and write the file in turn.
    FileLock lock;
    if (!lock.Take(target + ".lock", error)) return Fail(error);
    std::string text;
    bool exists = false;
    struct stat st {};
    if (!ReadWhole(target, text, exists, st, error)) return Fail(error);  // never written blind
    // Only a regular file is replaced: never /dev/null or another device by a file of ours.
    if (exists && !S_ISREG(st.st_mode)) return Fail(target + " is not a regular file: nothing is written to it");

    std::vector<std::string> lines = SplitLines(text);
    std::string current;
    int sectionEnd = -1;  // index after the last line of the wanted section
    bool done = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        const std::string line = Trim(lines[i]);
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            current = Trim(line.substr(1, line.size() - 2));
            if (SameName(current, section)) sectionEnd = static_cast<int>(i) + 1;
            continue;
        }
        if (!SameName(current, section)) continue;
        if (!line.empty()) sectionEnd = static_cast<int>(i) + 1;
        const size_t eq = line.find('=');
        if (eq != std::string::npos && SameName(Trim(line.substr(0, eq)), key)) {
            lines[i] = key + "=" + value;
            done = true;
        }
    }
    if (!done) {
        if (sectionEnd < 0) {
            if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(key + "=" + value);
        } else {
            lines.insert(lines.begin() + sectionEnd, key + "=" + value);
        }
    }
    std::string out;
    for (const std::string& l : lines) out += l + '\n';
    if (!ReplaceFile(target, out, exists, st, error, m_lastNote)) return Fail(error);
    return true;
}

}  // namespace kalvor
