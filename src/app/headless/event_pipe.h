// The run events of a headless session as text lines on a descriptor (--events-fd N), for the
// bench's supervisor. One line per event, words separated by blanks, values as key=value:
//
//   run-started repeat=20
//   cycle-written index=3 repeat=20
//   cycle-answered dispensed=3 rejected=0 module_error=0 code=31 answer_ms=812.4
//   cycle-failed ended=no_answer     (the results' `ended` with '_' for blanks)
//   run-ended ended=completed
//   port-opened device=/dev/ttyUSB0
//   port-open-failed device=/dev/ttyUSB0
//   port-lost device=/dev/ttyUSB0
//
// A write that fails or would block drops the line: the session never waits for, nor is ended by,
// whoever reads (no SIGPIPE on a socket; on a pipe SIGPIPE is ignored once the first write fails).
#pragma once

#include <cstdint>
#include <string>

#include "console/run_events.h"

namespace kalvor {

class EventPipe final : public RunObserver {
public:
    explicit EventPipe(int fd);

    void OnRunStarted(const RunTime&, unsigned repeatCount) override;
    void OnCycleWritten(const RunTime&, const CycleRequest&) override;
    void OnCycleAnswered(const RunTime&, const CycleAnswer&) override;
    void OnCycleFailed(const RunTime&, CycleEnd how) override;
    void OnRunEnded(const RunTime&, RunEnd how) override;
    void OnPortOpened(const RunTime&, int port, const std::string& device) override;
    void OnPortOpenFailed(const RunTime&, int port, const std::string& device, const std::string& reason) override;
    void OnPortLost(const RunTime&, int port, const std::string& device) override;

    unsigned Dropped() const { return m_dropped; }

private:
    void Send(const std::string& line);

    int m_fd;
    bool m_socket = true;  // until a send says otherwise
    int64_t m_writtenUs = -1;
    unsigned m_dropped = 0;
};

}  // namespace kalvor
