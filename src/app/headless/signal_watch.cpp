#include "app/headless/signal_watch.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace kalvor {

SignalWatch::SignalWatch(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    sigaddset(&m_set, SIGHUP);
    sigaddset(&m_set, SIGUSR2);  // the watcher's own stop
    pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    m_thread = std::thread([this] {
        for (;;) {
            int sig = 0;
            if (sigwait(&m_set, &sig) != 0) continue;
            if (sig == SIGUSR2 && m_stopping.load()) return;
            if (sig == SIGUSR2) continue;
            if (m_caught.load() != 0) {
                // Asked twice: the session did not end in time, so end the process now.
                _exit(128 + sig);
            }
            m_caught = sig;
            if (m_onSignal) m_onSignal(sig);
        }
    });
}

SignalWatch::~SignalWatch() {
    m_stopping = true;
    pthread_kill(m_thread.native_handle(), SIGUSR2);
    m_thread.join();
    // A signal that came too late to be handled is dropped with the watcher; the session has
    // already ended and said so.
    sigset_t pending;
    sigpending(&pending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR2}) {
        if (!sigismember(&pending, sig)) continue;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        int taken = 0;
        sigwait(&one, &taken);
    }
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

InterruptibleInput::int_type InterruptibleInput::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (fds[1].revents & POLLIN)) return traits_type::eof();
        const ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return traits_type::eof();
        setg(m_buffer, m_buffer, m_buffer + n);
        return traits_type::to_int_type(*gptr());
    }
}

}  // namespace kalvor
