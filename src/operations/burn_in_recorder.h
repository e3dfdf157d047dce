// Records a burn-in: one CSV row per dispense cycle (what was asked, what the answer said, how
// long the ACK and the answer took, how the cycle ended) and a one-line summary per run.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "console/run_events.h"

namespace kalvor {


class BurnInRecorder {
public:
    // Opens (truncates) the CSV file and writes its header. Check Ok() afterwards.
    explicit BurnInRecorder(const std::string& path);
    bool Ok() const { return m_ok; }

    void RunStarted();
    void CycleWritten(int64_t nowMs, char command, const char upper[2], const char lower[2]);
    void AckReceived(int64_t nowMs);
    void Answered(int64_t nowMs, const CycleAnswer& answer);
    void Failed(int64_t nowMs, const char* how);  // "no ACK", "no answer", "bad frames", "replaced"
    bool CycleOpen() const { return m_open; }

    // The run's summary line: cycles, dispensed, rejected, errors, and the minimum, median and
    // maximum answer time (write to answer, in milliseconds).
    std::string Summary() const;

    // Whole-file figures, for an exit status or a report.
    unsigned Cycles() const { return m_totalCycles; }

private:
    void WriteRow(const char* how, const CycleAnswer* answer);

    std::ofstream m_out;
    bool m_ok = false;
    unsigned m_run = 0;
    unsigned m_totalCycles = 0;

    // The cycle in flight.
    bool m_open = false;
    unsigned m_cycle = 0;  // within the run
    char m_command = 0;
    std::string m_upper, m_lower;
    int64_t m_writeMs = 0;
    int64_t m_ackMs = -1;
    int64_t m_answerMs = -1;

    // The run's figures.
    unsigned m_runCycles = 0;
    unsigned m_runDispensed = 0;
    unsigned m_runRejected = 0;
    unsigned m_runErrors = 0;
    std::vector<int64_t> m_answerTimes;
};

}  // namespace kalvor
