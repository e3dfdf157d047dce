// SIGINT, SIGTERM and SIGHUP in the headless host: instead of killing the process they end the
// session as "Cancel" then "quit" would, so the cycle in flight gets its record and the files
// their last lines. The signals are blocked in every thread (the watcher is made before any other
// thread of the session) and taken by one watcher thread with sigwait. A second signal within
// kSameRequestMs of the first is the same request (coreutils `timeout` signals the program and then
// its process group, so SIGTERM comes twice within microseconds) and changes nothing; a later one,
// while the session is still ending, kills the process at once.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace kalvor {

class SignalWatch {
public:
    // `onSignal` runs on the watcher thread.
    explicit SignalWatch(std::function<void(int)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    static constexpr int64_t kSameRequestMs = 5000;

    int Caught() const { return m_caught.load(); }

private:
    std::function<void(int)> m_onSignal;
    sigset_t m_set{};
    sigset_t m_previous{};
    std::atomic<int> m_caught{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

}  // namespace kalvor
