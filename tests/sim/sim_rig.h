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

// Options for quick tests: no pacing, no mechanical time, no rejects, generous ACK wait.
SimOptions FastOptions(int model = 2000);

// EOT 'P' STX cmd data ETX BCC, computed here independently of the simulator's own frame code.
Bytes Command(uint8_t cmd, const Bytes& data = {});
uint8_t XorOf(const Bytes& b);
Bytes Text(const std::string& s);

// True when `f` is SOH id STX code data ETX BCC with a zero exclusive OR and no 0x01/0x03 inside.
bool WellFormedResponse(const Bytes& f);

class SimRig {
public:
    explicit SimRig(SimOptions options);
    ~SimRig();
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    Simulator& Sim() { return sim_; }
    const std::string& SlavePath() const { return slavePath_; }

    void Send(const Bytes& b);
    void SendCommand(uint8_t cmd, const Bytes& data = {}) { Send(Command(cmd, data)); }

    // Exactly n bytes; fails the test when they do not come within timeoutMs.
    Bytes Read(std::size_t n, int timeoutMs = 5000);
    // Bytes up to and including a response frame's BCC (anything before its SOH is returned too).
    Bytes ReadThroughFrame(int timeoutMs = 5000);
    // Whatever arrives within ms.
    Bytes Collect(int ms);

    // Command, its ACK, the answer frame, the console's ACK; returns the answer frame.
    Bytes Exchange(uint8_t cmd, const Bytes& data = {});

    // Polls the counters until `pred` holds; false after timeoutMs.
    bool WaitFor(const std::function<bool(const SimCounters&)>& pred, int timeoutMs = 10000);

    void CloseSlave();
    void OpenSlave();

private:
    Simulator sim_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::thread thread_;
    int serveResult_ = 0;
};

// The answer frame at the end of `got` (after notices or noise), or empty.
Bytes LastFrame(const Bytes& got);

}  // namespace zeda::test
