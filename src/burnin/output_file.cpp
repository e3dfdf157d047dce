#include "burnin/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kalvor {

OutputFile::~OutputFile() { Close(); }

bool OutputFile::Open(const std::string& path, bool append, std::string& reason) {
    Close();
    m_reason.clear();
    m_path = path;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    do {
        m_fd = ::open(path.c_str(), flags, 0666);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

void OutputFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
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
