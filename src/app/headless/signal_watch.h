// SIGINT, SIGTERM and SIGHUP in the headless host: instead of killing the process they end the
// session as "Cancel" then "quit" would, so the cycle in flight gets its record and the files
// their last lines. The signals are blocked in every thread (the watcher is made before any other
// thread of the session) and taken by one watcher thread with sigwait; a second signal while the
// session is still ending kills the process at once.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <functional>
#include <streambuf>
#include <thread>

namespace kalvor {

class SignalWatch {
public:
    // `onSignal` runs on the watcher thread.
    explicit SignalWatch(std::function<void(int)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int Caught() const { return m_caught.load(); }

private:
    std::function<void(int)> m_onSignal;
    sigset_t m_set{};
    sigset_t m_previous{};
    std::atomic<int> m_caught{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// A stream buffer on a file descriptor (the script on standard input) whose reads end, as at the
// end of the file, once `wakeFd` (an eventfd) becomes readable.
class InterruptibleInput : public std::streambuf {
public:
    InterruptibleInput(int fd, int wakeFd) : m_fd(fd), m_wakeFd(wakeFd) {}

protected:
    int_type underflow() override;

private:
    int m_fd;
    int m_wakeFd;
    char m_buffer[4096];
};

}  // namespace kalvor
