// The port a run is started on from the command line: --simulate points COM1 at the built-in
// simulated module, --port [COMn=]PATH points COMn at PATH. Either way the mapping holds for this
// run only: the console starts on that port, and the profile's [COMPORTS] mapping and remembered
// port are left as they are.
#pragma once

#include <string>

#include "app/headless/app_options.h"
#include "console/profile.h"

namespace kalvor {

// Points COMn at `path` for this process (KALVOR_COMn, which wins over the profile's mapping).
void MapComPort(int port, const std::string& path);

// Maps every --port of `options`. Returns the port the run starts on: the first --port's COMn,
// 1 under --simulate, 0 when the command line chose none (the remembered port is used).
int ApplyCommandLinePorts(const AppOptions& options);

// The profile of a run whose port the command line chose: the console starts on `port`, and the
// remembered port is neither read nor overwritten ("OK" on "SETUP" keeps its choice for this run
// only); every other key goes to the real profile.
class PinnedPortProfile final : public Profile {
public:
    PinnedPortProfile(Profile& real, int port) : m_real(real), m_port(std::to_string(port)) {}
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) override;
    // The port key is kept here, so a call about it never reports the real profile's error.
    std::string LastError() const override { return m_ownKey ? std::string() : m_real.LastError(); }
    std::string LastNote() const override { return m_ownKey ? std::string() : m_real.LastNote(); }

private:
    Profile& m_real;
    std::string m_port;
    bool m_ownKey = false;  // the last call was about the port
};

}  // namespace kalvor
