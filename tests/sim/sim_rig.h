// A simulator serving a pseudo-terminal on its own thread, and the console's end of the line for the test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zeda_simulator.h"

namespace zeda::test {

using Bytes = std::vector<uint8_t>;

// No pacing, no mechanical time, no rejects, a generous ACK wait.
SimOptions FastOptions(int model = 2000);

// EOT 'P' STX cmd data ETX BCC, built here independently of the simulator's own frame code.
Bytes Command(uint8_t cmd, const Bytes& data = {});
uint8_t XorOf(const Bytes& b);
Bytes Text(const std::string& s);
// SOH id STX code data ETX BCC with a zero exclusive OR and no 0x01/0x03 inside.
bool WellFormedResponse(const Bytes& f);
// Read as the console reads: the last answer completed in `got`, or an unfinished answer at its end.
// Reject notices (SOH 0x9C reason) never complete.
Bytes LastFrame(const Bytes& got);

class SimRig {
public:
    explicit SimRig(SimOptions options);
    ~SimRig();

    Simulator& Sim() { return sim_; }
    void Send(const Bytes& b);
    void SendCommand(uint8_t cmd, const Bytes& data = {}) { Send(Command(cmd, data)); }
    // Exactly n bytes (the test fails when they do not come within 5 s).
    Bytes Read(std::size_t n);
    // Everything up to and including the next answer's BCC.
    Bytes ReadThroughFrame();
    // Whatever arrives within ms.
    Bytes Collect(int ms) { return Take(SIZE_MAX, ms); }
    // Command, its ACK, the answer, the console's ACK; returns the answer frame.
    Bytes Exchange(uint8_t cmd, const Bytes& data = {});
    // Polls the counters until `pred` holds; false after 10 s.
    bool WaitFor(const std::function<bool(const SimCounters&)>& pred);
    void CloseSlave();
    void OpenSlave();

private:
    Bytes Take(std::size_t n, int ms);  // at most n bytes, for at most ms

    Simulator sim_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::thread thread_;
    int serveResult_ = 0;
};

}  // namespace zeda::test
