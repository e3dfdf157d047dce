#include "ui/signal_closer.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kalvor {

namespace {

std::atomic<int> g_writeEnd{-1};

extern "C" void OnSignal(int sig) {
    const int saved = errno;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(sig);
        [[maybe_unused]] const ssize_t n = ::write(fd, &number, 1);  // full pipe: one is pending already
    }
    errno = saved;
}

}  // namespace

SignalCloser::SignalCloser(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // no pipe: the signals keep their default
    g_writeEnd.store(m_pipe[1]);
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { Read(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &m_oldInt);
    ::sigaction(SIGTERM, &action, &m_oldTerm);
    m_installed = true;
}

SignalCloser::~SignalCloser() {
    Restore();
    g_writeEnd.store(-1);
    for (int& fd : m_pipe)
        if (fd >= 0) ::close(fd);
}

void SignalCloser::Restore() {
    if (!m_installed) return;
    ::sigaction(SIGINT, &m_oldInt, nullptr);
    ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    m_installed = false;
}

void SignalCloser::Read() {
    unsigned char number = 0;
    ssize_t n;
    int first = 0;
    while ((n = ::read(m_pipe[0], &number, 1)) == 1 || (n < 0 && errno == EINTR))
        if (n == 1 && first == 0) first = number;
    if (first == 0 || m_signal != 0) return;
    m_signal = first;
    Restore();
    if (m_onSignal) m_onSignal(m_signal);
}

}  // namespace kalvor
