#include "app/headless/simulated_module.h"

#include <unistd.h>

#include "app/headless/session_ports.h"
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
    MapComPort(1, m_slavePath);  // COM1 is the simulator
    return true;
}

void SimulatedModule::Stop() {
    if (m_sim) m_sim->Stop();
    if (m_thread.joinable()) m_thread.join();
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

}  // namespace kalvor
