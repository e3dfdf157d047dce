#include "app/headless/signal_watch.h"

#include <unistd.h>

#include <chrono>

namespace kalvor {

namespace {
int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    sigaddset(&m_set, SIGHUP);
    sigaddset(&m_set, SIGUSR2);  // the watcher's own stop
    pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    m_thread = std::thread([this] {
        int64_t first = 0;
        for (;;) {
            int sig = 0;
            if (sigwait(&m_set, &sig) != 0) continue;
            if (sig == SIGUSR2 && m_stopping.load()) return;
            if (sig == SIGUSR2) continue;
            const int64_t now = NowMs();
            if (m_caught.load() != 0) {
                // The same request again (a process group signalled after the process): nothing new.
                if (now - first < kSameRequestMs) continue;
                // Asked again later: the session did not end in time, so end the process now.
                _exit(128 + sig);
            }
            first = now;
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
    // After a request to end, the same request may still come (from the process group, or a
    // `timeout` that signals twice): it stays blocked, so it cannot kill the process between here
    // and its exit and take the exit status with it.
    sigset_t after = m_previous;
    if (m_caught.load() != 0)
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&after, sig);
    pthread_sigmask(SIG_SETMASK, &after, nullptr);
}

}  // namespace kalvor
