#include "app/headless/event_pipe.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace kalvor {

namespace {

// Blanks would split a value: they are sent as '_' ("no answer" is no_answer).
std::string Word(std::string s) {
    for (char& c : s)
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') c = '_';
    return s.empty() ? "-" : s;
}

}  // namespace

EventPipe::EventPipe(int fd) : m_fd(fd) {}

void EventPipe::Send(const std::string& text) {
    if (m_fd < 0) return;
    const std::string line = text + "\n";
    ssize_t n = -1;
    if (m_socket) {
        n = ::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK) {
            // A pipe: a reader that went away must not end the session with SIGPIPE.
            m_socket = false;
            ::signal(SIGPIPE, SIG_IGN);
        }
    }
    if (!m_socket) n = ::write(m_fd, line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size())) ++m_dropped;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ENOTSOCK) {
        m_fd = -1;  // the reader is gone (EPIPE, EBADF): stop trying
    }
}

void EventPipe::OnRunStarted(const RunTime&, unsigned repeatCount) {
    Send("run-started repeat=" + std::to_string(repeatCount));
}

void EventPipe::OnCycleWritten(const RunTime& t, const CycleRequest& r) {
    m_writtenUs = t.monoUs;
    Send("cycle-written index=" + std::to_string(r.index) + " repeat=" + std::to_string(r.repeat));
}

void EventPipe::OnCycleAnswered(const RunTime& t, const CycleAnswer& a) {
    char ms[32] = "-";
    if (m_writtenUs >= 0) std::snprintf(ms, sizeof ms, "%.1f", static_cast<double>(t.monoUs - m_writtenUs) / 1000.0);
    char code[8];
    std::snprintf(code, sizeof code, "%02X", a.resultCode);
    Send("cycle-answered dispensed=" + std::to_string(a.dispensed) + " rejected=" + std::to_string(a.rejected) +
         " module_error=" + (a.moduleError ? "1" : "0") + " code=" + code + " answer_ms=" + ms);
}

void EventPipe::OnCycleFailed(const RunTime&, CycleEnd how) {
    Send("cycle-failed ended=" + Word(CycleEndName(how)));
}

void EventPipe::OnRunEnded(const RunTime&, RunEnd how) { Send("run-ended ended=" + Word(RunEndName(how))); }

void EventPipe::OnPortOpened(const RunTime&, int, const std::string& device) {
    Send("port-opened device=" + Word(device));
}

void EventPipe::OnPortOpenFailed(const RunTime&, int, const std::string& device, const std::string&) {
    Send("port-open-failed device=" + Word(device));
}

void EventPipe::OnPortLost(const RunTime&, int, const std::string& device) { Send("port-lost device=" + Word(device)); }

}  // namespace kalvor
