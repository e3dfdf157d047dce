#include "burnin/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kalvor {

std::string OutputKindProblem(const std::string& path, mode_t mode) {
    if (S_ISREG(mode) || path == "/dev/null" || path == "/dev/stdout") return {};
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    return "it is not a regular file";
}

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Prepare(const std::string& path, bool append, std::string& reason) {
    Close();
    m_reason.clear();
    m_path = path;
    m_append = append;
    // Standard output by name is never emptied and is written after what is there: the shell
    // opened it (perhaps with >>), and other lines go to it through its own descriptor.
    m_stdout = path == "/dev/stdout";
    m_owned = true;
    struct stat before {};
    m_created = ::stat(path.c_str(), &before) != 0 && errno == ENOENT;
    // Never O_TRUNC here, and never a wait for a reader of a FIFO: what the file is comes first.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (append || m_stdout ? O_APPEND : 0);
    do {
        m_fd = ::open(path.c_str(), flags, 0666);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        // A FIFO with no reader refuses a non-blocking open with ENXIO: say what it is.
        reason = errno == ENXIO ? "it is a FIFO, not a regular file" : std::strerror(errno);
        m_created = false;
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        reason = std::strerror(errno);
        Abandon();
        return false;
    }
    reason = OutputKindProblem(path, st.st_mode);
    if (!reason.empty()) {
        Abandon();
        return false;
    }
    m_regular = S_ISREG(st.st_mode);
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    return true;
}

bool OutputFile::Begin(std::string& reason) {
    if (m_fd < 0) {
        reason = "not open";
        return false;
    }
    m_startedEmpty = true;
    if (!m_regular || (m_stdout && !m_append)) return true;
    if (!m_append) {
        if (::ftruncate(m_fd, 0) != 0) {
            reason = std::strerror(errno);
            return false;
        }
        return true;
    }
    struct stat st {};
    m_startedEmpty = ::fstat(m_fd, &st) != 0 || st.st_size == 0;
    return true;
}

bool OutputFile::Open(const std::string& path, bool append, std::string& reason) {
    if (!Prepare(path, append, reason)) return false;
    if (Begin(reason)) return true;
    Abandon();
    return false;
}

void OutputFile::Abandon() {
    Close();
    if (m_created) ::unlink(m_path.c_str());
    m_created = false;
}

void OutputFile::Adopt(int fd, const std::string& name) {
    Close();
    m_fd = fd;
    m_owned = false;
    m_path = name;
    m_reason.clear();
}

void OutputFile::Close() {
    if (m_fd >= 0 && m_owned) ::close(m_fd);
    m_fd = -1;
}

bool OutputFile::Write(const std::string& data) {
    if (m_fd < 0 || Failed()) return false;
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(m_fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        m_reason = n < 0 ? std::strerror(errno) : "nothing could be written";
        if (m_onFailure) m_onFailure(m_path, m_reason);
        return false;
    }
    return true;
}

}  // namespace kalvor
