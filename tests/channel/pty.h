// A pseudo-terminal pair for the channel tests. The test keeps the slave open itself (so the pair
// stays alive and its termios can be read back) and plays the module on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kalvor::test {

class Pty {
public:
    Pty() {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) < 0)
            throw std::runtime_error("openpty failed");
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        char name[128] = {};
        if (::ttyname_r(m_slave, name, sizeof name) != 0) throw std::runtime_error("ttyname_r failed");
        m_path = name;
    }
    ~Pty() {
        CloseMaster();
        if (m_slave >= 0) ::close(m_slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return m_path; }
    int Master() const { return m_master; }
    int Slave() const { return m_slave; }

    void CloseMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    // Writes everything into the master (the "module" sends), waiting when the pty is full.
    bool Send(const void* data, size_t n) {
        const auto* p = static_cast<const uint8_t*>(data);
        size_t done = 0;
        while (done < n) {
            ssize_t w = ::write(m_master, p + done, n - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
            } else if (w < 0 && errno == EINTR) {
                continue;
            } else if (w < 0 && errno == EAGAIN) {
                pollfd pf = {m_master, POLLOUT, 0};
                if (::poll(&pf, 1, 2000) <= 0) return false;
            } else {
                return false;
            }
        }
        return true;
    }
    bool Send(const std::vector<uint8_t>& v) { return Send(v.data(), v.size()); }

    // Reads from the master until `n` bytes came or the timeout passed.
    std::vector<uint8_t> Receive(size_t n, int timeoutMs = 2000) {
        std::vector<uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd pf = {m_master, POLLIN, 0};
            if (::poll(&pf, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t buf[512];
            ssize_t r = ::read(m_master, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) out.insert(out.end(), buf, buf + r);
            else if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            else break;
        }
        return out;
    }

    termios SlaveTermios() const {
        termios t{};
        ::tcgetattr(m_slave, &t);
        return t;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

}  // namespace kalvor::test
