#include "app/headless/simulated_module.h"

#include <unistd.h>

#include <cstdlib>

#include "zeda_simulator.h"

namespace kalvor {

SimulatedModule::SimulatedModule() = default;
SimulatedModule::~SimulatedModule() { Stop(); }

bool SimulatedModule::Start(int model, std::string& error) {
    if (!zeda::OpenPtyPair(m_master, m_slavePath)) {
        error = "cannot create a pseudo-terminal for the simulated module";
        return false;
    }
    zeda::SimOptions options;
    options.model = model == 0 ? 1000 : 2000;
    options.lowerPresent = model != 0;
    m_sim = std::make_unique<zeda::Simulator>(options);
    m_thread = std::thread([this] { m_sim->Serve(m_master); });
    // COM1 is the simulator; the environment wins over the profile's [COMPORTS] mapping.
    ::setenv("KALVOR_COM1", m_slavePath.c_str(), 1);
    return true;
}

void SimulatedModule::Stop() {
    if (m_sim) m_sim->Stop();
    if (m_thread.joinable()) m_thread.join();
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

std::string SimulationProfile::GetString(const std::string& section, const std::string& key,
                                         const std::string& fallback) {
    m_ownKey = section == "KALVOR" && key == "PORT";
    if (m_ownKey) return m_port;
    return m_real.GetString(section, key, fallback);
}

bool SimulationProfile::WriteString(const std::string& section, const std::string& key,
                                    const std::string& value) {
    m_ownKey = section == "KALVOR" && key == "PORT";
    if (m_ownKey) {
        m_port = value;
        return true;
    }
    return m_real.WriteString(section, key, value);
}

}  // namespace kalvor
