#include "app/headless/session_ports.h"

#include <cstdlib>

namespace kalvor {

void MapComPort(int port, const std::string& path) {
    ::setenv(("KALVOR_COM" + std::to_string(port)).c_str(), path.c_str(), 1);
}

int ApplyCommandLinePorts(const AppOptions& options) {
    for (const auto& [port, path] : options.ports) MapComPort(port, path);
    if (!options.ports.empty()) return options.ports.front().first;
    return options.simulate >= 0 ? 1 : 0;
}

std::string PinnedPortProfile::GetString(const std::string& section, const std::string& key,
                                         const std::string& fallback) {
    m_ownKey = section == "KALVOR" && key == "PORT";
    if (m_ownKey) return m_port;
    return m_real.GetString(section, key, fallback);
}

bool PinnedPortProfile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    m_ownKey = section == "KALVOR" && key == "PORT";
    if (m_ownKey) {
        m_port = value;
        return true;
    }
    return m_real.WriteString(section, key, value);
}

}  // namespace kalvor
