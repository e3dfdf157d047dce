#include "app/headless/port_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace kalvor {

namespace {

constexpr int kPeriodMs = 500;  // at most two looks, and two reopenings, a second

// The deepest folder on the way to `path` that exists now.
std::string DeepestFolder(const std::string& path) {
    std::string dir = path;
    for (;;) {
        const size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos) return ".";
        dir = slash == 0 ? "/" : dir.substr(0, slash);
        struct stat st{};
        if (dir == "/" || (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return dir;
    }
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

PortWatcher::PortWatcher(RxSink& sink, std::function<bool(int)> reopen) : m_sink(sink), m_reopen(std::move(reopen)) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);  // -1: polling alone
    if (m_wakeFd >= 0) m_thread = std::thread([this] { Run(); });
}

PortWatcher::~PortWatcher() {
    Stop();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
    if (m_inotifyFd >= 0) ::close(m_inotifyFd);
}

void PortWatcher::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    Wake();
    if (m_thread.joinable()) m_thread.join();
}

void PortWatcher::Wake() {
    const uint64_t one = 1;
    if (m_wakeFd >= 0) (void)!::write(m_wakeFd, &one, sizeof one);
}

void PortWatcher::OnPortLost(const RunTime&, int port, const std::string& device) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_path = device;
        m_port = port;
        ++m_generation;
    }
    Wake();
}

void PortWatcher::OnPortOpened(const RunTime&, int, const std::string&) {
    // Opened by any means (a reconnect, or "OK" on "SETUP"): nothing is lost any more.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_path.clear();
        ++m_generation;
    }
    Wake();
}

std::string PortWatcher::Watching() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

void PortWatcher::Run() {
    int watch = -1;
    std::string watchedFolder;
    int64_t lastTry = -kPeriodMs;
    alignas(inotify_event) char events[4096];
    for (;;) {
        std::string path;
        int port = 0;
        unsigned generation = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop) break;
            path = m_path;
            port = m_port;
            generation = m_generation;
        }
        int timeout = -1;  // nothing lost: sleep until told
        if (!path.empty()) {
            struct stat st{};
            const bool there = ::stat(path.c_str(), &st) == 0;  // a link counts once its target is there
            const int64_t now = NowMs();
            if (there && now - lastTry >= kPeriodMs) {
                lastTry = now;
                // On the UI thread, and only if nothing changed since (an "OK" on "SETUP" may
                // have opened a port meanwhile).
                m_sink.HandOver([this, generation, port] {
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        if (m_stop || generation != m_generation) return;
                    }
                    m_reopen(port);
                });
                continue;  // an opening has cleared the path; a failure is tried again later
            }
            timeout = there ? static_cast<int>(kPeriodMs - (now - lastTry)) : kPeriodMs;
            if (m_inotifyFd >= 0) {
                const std::string folder = DeepestFolder(path);
                if (folder != watchedFolder) {
                    if (watch >= 0) ::inotify_rm_watch(m_inotifyFd, watch);
                    watch = ::inotify_add_watch(m_inotifyFd, folder.c_str(),
                                                IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
                    watchedFolder = watch >= 0 ? folder : std::string();
                }
            }
        } else if (watch >= 0) {
            ::inotify_rm_watch(m_inotifyFd, watch);
            watch = -1;
            watchedFolder.clear();
        }
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_inotifyFd, POLLIN, 0}};
        const int n = ::poll(fds, m_inotifyFd >= 0 ? 2 : 1, timeout);
        if (n <= 0) continue;  // time-out, or a signal: look again
        uint64_t count;
        if (fds[0].revents & POLLIN) (void)!::read(m_wakeFd, &count, sizeof count);
        if (m_inotifyFd >= 0 && (fds[1].revents & POLLIN)) {
            // Any change in the folder makes us look again. A folder that went away (its watch
            // is gone with it) or was renamed is watched anew from where the path is now.
            for (ssize_t got; (got = ::read(m_inotifyFd, events, sizeof events)) > 0;) {
                for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                    const auto* ev = reinterpret_cast<const inotify_event*>(events + at);
                    if (ev->wd == watch && (ev->mask & IN_IGNORED)) {
                        watch = -1;
                        watchedFolder.clear();
                    } else if (ev->wd == watch && (ev->mask & IN_MOVE_SELF)) {
                        ::inotify_rm_watch(m_inotifyFd, watch);
                        watch = -1;
                        watchedFolder.clear();
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                }
            }
        }
    }
    if (watch >= 0) ::inotify_rm_watch(m_inotifyFd, watch);
}

}  // namespace kalvor
