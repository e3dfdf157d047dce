// The built-in simulated module: a ZEDA1000 or ZEDA2000 simulator on a pseudo-terminal pair,
// served by a thread of its own inside the console's process, with COM1 pointed at it.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "console/profile.h"

namespace zeda {
class Simulator;
}

namespace kalvor {

class SimulatedModule {
public:
    SimulatedModule();
    ~SimulatedModule();
    // model: 0 ZEDA1000, 1 ZEDA2000. Returns false (with `error`) when no pseudo-terminal could
    // be made.
    bool Start(int model, std::string& error);
    void Stop();
    const std::string& DevicePath() const { return m_slavePath; }
    zeda::Simulator* Simulator() { return m_sim.get(); }

private:
    std::unique_ptr<zeda::Simulator> m_sim;
    std::thread m_thread;
    int m_master = -1;
    std::string m_slavePath;
};

// While the simulator stands in for the module, the console opens COM1 and the remembered port
// is neither read nor overwritten; every other key goes to the real profile.
class SimulationProfile final : public Profile {
public:
    explicit SimulationProfile(Profile& real) : m_real(real) {}
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) override;
    std::string LastError() const override { return m_real.LastError(); }

private:
    Profile& m_real;
    std::string m_port = "1";
};

}  // namespace kalvor
