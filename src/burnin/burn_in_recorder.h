// Records a burn-in: one record per dispense cycle (what was asked, what the answer said, how long
// the ACK and the answer took, what the link had to repeat, the reject notices, how the cycle
// ended) as CSV, or as JSON Lines when the file name ends in ".jsonl", and a one-line summary per
// run. It listens to the console's run events; the dialog knows nothing of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "burnin/burn_plan.h"
#include "burnin/output_file.h"
#include "console/run_events.h"

namespace kalvor {

// Who is who, for every record: filled in by the host (the recorder looks nothing up).
struct RecordIdentity {
    std::string module;   // --module NAME, else the port's by-id name, else its path
    std::string port;     // the device path as given
    std::string device;   // the kernel's name for it ("ttyUSB0")
    std::string adapter;  // USB vendor:product and serial, where known
    std::string station;  // the host name
};

class BurnInRecorder final : public RunObserver, public BurnPlanListener {
public:
    // Opens (truncates) the file and writes the CSV header. False, with the system's reason,
    // when the file cannot be opened; a failed write (the header's too, so set the handler
    // first) is told through `onFailure`, once.
    bool Open(const std::string& path, std::string& reason);
    // The same in two steps (see OutputFile): Prepare() opens without emptying (appending, the
    // runs go on from the file's last, and a CSV file must start with our header); Begin()
    // empties the file unless appending, and writes the CSV header into a file that holds nothing.
    bool Prepare(const std::string& path, bool append, std::string& reason);
    bool Begin(std::string& reason);
    OutputFile& File() { return m_file; }
    void SetFailureHandler(std::function<void(const std::string& message)> onFailure);
    // Where the run's summary line goes when the run ends (the Message pane).
    void SetSummarySink(std::function<void(const std::string& line)> sink) { m_summarySink = std::move(sink); }
    // Who is who from here on (the port may be opened again on another device).
    void SetIdentity(const RecordIdentity& identity) { m_identity = identity; }
    // The model selected when a cycle is written: 0 ZEDA1000, 1 ZEDA2000.
    void SetModelSource(std::function<int()> model) { m_model = std::move(model); }
    void OnBurnPlanned(unsigned planned) override { m_planned = planned; }

    void OnRunStarted(const RunTime& t, unsigned repeatCount) override;
    void OnCycleWritten(const RunTime& t, const CycleRequest& request) override;
    void OnCycleAck(const RunTime& t) override;
    void OnCycleAnswered(const RunTime& t, const CycleAnswer& answer) override;
    void OnCycleFailed(const RunTime& t, CycleEnd how) override;
    void OnRunEnded(const RunTime& t, RunEnd how) override;
    void OnLinkEvent(const RunTime& t, LinkEvent event) override;
    void OnRejectNotice(const RunTime& t, RejectReason reason, uint8_t reasonByte) override;

    // The run's summary line: cycles, dispensed, rejected, errors, and the minimum, median and
    // maximum answer time (write to answer, in milliseconds).
    std::string Summary() const;
    bool CycleOpen() const { return m_open; }
    unsigned Cycles() const { return m_totalCycles; }

    static const char* const kColumns[];
    static const int kColumnCount;

private:
    void WriteRecord(CycleEnd how, const CycleAnswer* answer);
    bool ReadAppendPoint(const std::string& path, std::string& reason);

    OutputFile m_file;
    bool m_json = false;
    std::function<void(const std::string&)> m_onFailure;
    std::function<void(const std::string&)> m_summarySink;
    RecordIdentity m_identity;
    std::function<int()> m_model;
    unsigned m_planned = 0;
    std::string m_cycleModel;    // the model of the cycle in flight
    unsigned m_cyclePlanned = 0; // the plan the cycle in flight belongs to
    unsigned m_run = 0;
    unsigned m_totalCycles = 0;

    // The cycle in flight.
    bool m_open = false;
    unsigned m_cycle = 0;  // within the run
    CycleRequest m_request;
    int64_t m_writeUs = 0, m_wallUs = 0, m_ackUs = -1, m_answerUs = -1;
    unsigned m_resends = 0, m_naksSent = 0, m_naksReceived = 0;
    unsigned m_notices[4] = {};  // by RejectReason

    // The run's figures.
    unsigned m_runCycles = 0, m_runDispensed = 0, m_runRejected = 0, m_runErrors = 0;
    unsigned m_runEnded[8] = {};  // cycles by how they ended (CycleEnd)
    std::vector<int64_t> m_answerTimesUs;
};

// The median of `values` (the mean of the two middle ones for an even count; 0 when empty): the
// progress line's and the run summary's.
int64_t MedianOf(std::vector<int64_t> values);
// Whether a cycle that ended so is an error of the module or the link, as the closing line
// counts them (module errors, link give-ups); a replaced, interrupted or port-lost cycle is not.
bool CountsAsError(CycleEnd how);

// "2026-12-07T18:45:12.345Z"
std::string IsoUtc(int64_t wallUs);
// Microseconds as milliseconds with three decimals: "812.345".
std::string Milliseconds3(int64_t us);

}  // namespace kalvor
