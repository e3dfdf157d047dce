#include "app/headless/script_input.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "app/headless/script_host.h"
#include "serial/comm.h"

namespace kalvor {

namespace {
constexpr int64_t kForeverMs = INT64_MAX / 4;
constexpr size_t kMaxQueuedLines = 256;
}

ScriptInput::ScriptInput(int fd, RxSink& sink) : m_fd(fd), m_sink(sink) {
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { Read(); });
}

ScriptInput::~ScriptInput() {
    const uint64_t one = 1;
    if (m_stopFd >= 0 && ::write(m_stopFd, &one, sizeof one) < 0) {
        // Cannot happen with an eventfd of ours; the reader then ends at its next line.
    }
    m_thread.join();
    if (m_stopFd >= 0) ::close(m_stopFd);
}

void ScriptInput::Read() {
    ScriptLineSplitter splitter;
    std::vector<ScriptLineSplitter::Line> lines;
    char buffer[4096];
    bool end = false;
    while (!end) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, m_stopFd >= 0 ? 2 : 1, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (fds[1].revents & POLLIN)) return;  // stopped: hand nothing more over
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n > 0) {
            splitter.Feed(buffer, static_cast<size_t>(n), lines);
        } else {
            splitter.Finish(lines);
            end = true;
        }
        if (lines.empty() && !end) continue;
        // A script fed faster than it runs waits in the pipe, not here.
        while (m_queued.load() >= kMaxQueuedLines) {
            pollfd stop = {m_stopFd, POLLIN, 0};
            if (::poll(&stop, 1, 10) > 0) return;
        }
        m_queued += lines.size();
        // The hand-over wakes the UI thread; it returns once the lines are queued there (or at
        // once when the host has shut down).
        m_sink.HandOver([this, taken = std::move(lines), end]() mutable {
            for (ScriptLineSplitter::Line& l : taken) m_lines.push_back(std::move(l));
            if (end) m_ended = true;
        });
        lines.clear();
    }
}

bool ScriptInput::Next(ScriptHost& host, ScriptLineSplitter::Line& line) {
    host.RunUntil([this] { return !m_lines.empty() || m_ended; }, kForeverMs);
    if (m_lines.empty() || host.Interrupted() || host.Ended()) return false;
    line = std::move(m_lines.front());
    m_lines.pop_front();
    --m_queued;
    return true;
}

}  // namespace kalvor
