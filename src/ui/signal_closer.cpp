#include "ui/signal_closer.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

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

SignalCloser::SignalCloser(std::function<void(int)> closeWindow, QObject* parent)
    : QObject(parent), m_closeWindow(std::move(closeWindow)) {
    m_closing.setInterval(20);
    connect(&m_closing, &QTimer::timeout, this, [this] { CloseStep(); });
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
    // Started under nohup (SIGHUP ignored), the window stays when its terminal goes.
    ::sigaction(SIGHUP, nullptr, &m_oldHup);
    if (m_oldHup.sa_handler != SIG_IGN) ::sigaction(SIGHUP, &action, nullptr);
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
    ::sigaction(SIGHUP, &m_oldHup, nullptr);
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
    m_closing.start();
    CloseStep();
}

void SignalCloser::CloseStep() {
    // A box first, as OK closes it; the handler that opened it goes on and may open another,
    // which the next step closes. The window when none is left.
    if (QWidget* box = QApplication::activeModalWidget()) {
        box->close();
        return;
    }
    m_closing.stop();
    if (m_closeWindow) m_closeWindow(m_signal);
}

}  // namespace kalvor
