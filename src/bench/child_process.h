// One module's console as a child process: started with posix_spawn in a process group of its
// own (so Ctrl+C at the terminal reaches only the supervisor, which passes it on), standard input
// and output on /dev/null, standard error on a pipe, and its run events on a socket handed over as
// descriptor 3. The supervisor's ends are non-blocking and closed on exec, so no child inherits
// another's.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kalvor::bench {

class ChildProcess {
public:
    static constexpr int kEventsFd = 3;  // the descriptor the child writes its run events to

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args` (args[0] is the name it sees); false with the reason.
    bool Start(const std::string& program, const std::vector<std::string>& args, std::string& error);

    pid_t Pid() const { return m_pid; }
    int ErrFd() const { return m_errFd; }
    int EventsFd() const { return m_eventsFd; }

    // Reads what is there on `fd` (one of the two above) into `into`; false at the end of it
    // (the descriptor is then closed and reads -1).
    bool Drain(int fd, std::string& into);
    // Sends `sig` to the child's process group.
    void Signal(int sig) const;
    // Whether it has ended (then `status` is its wait status); never blocks.
    bool Reap();
    bool Ended() const { return m_reaped; }
    int WaitStatus() const { return m_status; }
    bool PipesClosed() const { return m_errFd < 0 && m_eventsFd < 0; }

private:
    pid_t m_pid = -1;
    int m_errFd = -1;
    int m_eventsFd = -1;
    bool m_reaped = false;
    int m_status = 0;
};

}  // namespace kalvor::bench
