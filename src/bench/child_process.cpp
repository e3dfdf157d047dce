#include "bench/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace kalvor::bench {

namespace {

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Moves `fd` above the standard descriptors and descriptor 3, close-on-exec: a dup2 onto its own
// number would keep close-on-exec set and the child would never see it.
int Lift(int fd) {
    if (fd < 0) return fd;
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return high;
}

}  // namespace

ChildProcess::~ChildProcess() {
    CloseFd(m_errFd);
    CloseFd(m_eventsFd);
    // A child still running when the supervisor goes is not left a zombie for long: its group is
    // ended and it is waited for.
    if (m_pid > 0 && !m_reaped) {
        ::kill(-m_pid, SIGKILL);
        ::waitpid(m_pid, &m_status, 0);
    }
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string& error) {
    int errPipe[2] = {-1, -1}, events[2] = {-1, -1};
    if (::pipe2(errPipe, O_CLOEXEC) != 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, events) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        for (int fd : {errPipe[0], errPipe[1], events[0], events[1]})
            if (fd >= 0) ::close(fd);
        return false;
    }
    for (int* fd : {&errPipe[0], &errPipe[1], &events[0], &events[1]}) *fd = Lift(*fd);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_adddup2(&actions, events[1], kEventsFd);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(errPipe[1]);
    ::close(events[1]);
    if (rc != 0) {
        m_pid = -1;
        ::close(errPipe[0]);
        ::close(events[0]);
        error = "cannot start " + program + ": " + std::strerror(rc);
        return false;
    }
    m_errFd = errPipe[0];
    m_eventsFd = events[0];
    for (int fd : {m_errFd, m_eventsFd}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool ChildProcess::Drain(int fd, std::string& into) {
    if (fd < 0) return false;
    char buf[4096];
    // A bounded number of reads, so that a child that never stops writing cannot hold up the others.
    for (int k = 0; k < 16; ++k) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        // The end (or an error that will not go away): this descriptor is done.
        if (fd == m_errFd) CloseFd(m_errFd);
        if (fd == m_eventsFd) CloseFd(m_eventsFd);
        return false;
    }
    return true;
}

void ChildProcess::Signal(int sig) const {
    if (m_pid > 0 && !m_reaped) ::kill(-m_pid, sig);
}

bool ChildProcess::Reap() {
    if (m_pid <= 0 || m_reaped) return m_reaped;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_reaped = true;
        m_status = status;
    }
    return m_reaped;
}

}  // namespace kalvor::bench
