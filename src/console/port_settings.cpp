// Port settings, the remembered port and the module model.
#include <cerrno>

#include "console/console_dlg.h"
#include "serial/port_access.h"

namespace kalvor {

uint8_t CConsoleDlg::WireParity(uint8_t parityCode) {
    // The radios store 0 "None", 1 "Even", 2 "Odd"; the channel takes the line's own codes.
    switch (parityCode) {
    case 1: return kParityEven;
    case 2: return kParityOdd;
    default: return kParityNone;
    }
}

void CConsoleDlg::ReportOpenFailure(int port) {
    // One line for the technician: which COM, which device, why, and who holds it or what to do.
    const std::string device = m_comm->DevicePath();
    std::string line = "COM" + std::to_string(port) + " (" + device + "): ";
    // The channel's reason starts with the device ("/dev/ttyS0: No such file ..."); the line names
    // it once already.
    std::string reason = m_comm->LastError();
    if (!device.empty() && reason.starts_with(device + ": ")) reason.erase(0, device.size() + 2);
    line += reason.empty() ? "cannot be opened" : reason;
    const int err = m_comm->LastErrno();
    if (err == EACCES || err == EPERM) line += " - " + PermissionAdvice(device);
    if (err == EBUSY || err == EWOULDBLOCK) {
        const std::string holder = HolderOf(device);
        line += holder.empty() ? " - the port is in use by another program" : " - in use by " + holder;
    }
    UpdateData(true);
    const bool newLine = !m_strMessage.empty() && m_strMessage.back() != '\n';
    AppendMessage((newLine ? "\r\n" : "") + line + "\r\n");
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnPortOpenFailed(now, port, device, line); });
}

void CConsoleDlg::PortOpened() {
    m_openBaud = m_nBaud;
    m_openParity = m_nParity;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnPortOpened(now, m_nPort, m_comm->DevicePath()); });
}

void CConsoleDlg::OpenPortFromProfile() {
    if (!m_comm->InitEvents()) {
        ErrorBox("Can't open comm port");
        return;
    }
    if (m_bPortOpen) {
        m_comm->ClosePort();
        m_bPortOpen = 0;
    }
    const std::string value = m_profile.GetString("KALVOR", "PORT");
    if (!m_profile.LastError().empty())
        AppendMessage("The remembered port was not read: " + m_profile.LastError() + "\r\n");
    const char c = value.empty() ? '\0' : value[0];
    m_nPort = static_cast<uint16_t>(static_cast<unsigned char>(c) - '0');

    UpdateData(true);
    m_bCom1 = m_bCom2 = m_bCom3 = m_bCom4 = 0;
    switch (c) {
    case '1': m_bCom1 = 1; break;
    case '2': m_bCom2 = 1; break;
    case '3': m_bCom3 = 1; break;
    case '4': m_bCom4 = 1; break;
    default:
        m_bCom1 = 1;
        m_nPort = 1;
        break;
    }
    UpdateData(false);

    if (m_comm->OpenPort(m_nPort, m_nBaud, 8, kOneStopBit, WireParity(m_nParity))) {
        AppendMessage("Com Port " + std::to_string(m_nPort) + " is opened");
        m_bPortOpen = 1;
        PortOpened();
    } else {
        ReportOpenFailure(m_nPort);
        ErrorBox("Can't open comport. init");
    }
}

void CConsoleDlg::ApplyPortSettings() {
    if (!m_comm->InitEvents()) {
        ErrorBox("Can't open comm port");
        return;
    }
    if (m_bPortOpen) {
        m_comm->ClosePort();
        m_bPortOpen = 0;
    }
    if (!m_comm->OpenPort(m_nPort, m_nBaud, 8, kOneStopBit, WireParity(m_nParity))) {
        ReportOpenFailure(m_nPort);
        ErrorBox("Can't open comport.");
        return;
    }
    m_bPortOpen = 1;
    PortOpened();
    if (!m_profile.WriteInt("KALVOR", "PORT", m_nPort)) {
        // The port is open, but the next start will not find it: say so, and why.
        UpdateData(true);
        std::string line = !m_strMessage.empty() && m_strMessage.back() != '\n' ? "\r\n" : "";
        line += "COM" + std::to_string(m_nPort) + " was not remembered: ";
        line += m_profile.LastError().empty() ? "the profile cannot be written" : m_profile.LastError();
        AppendMessage(line + "\r\n");
    }
    if (!m_profile.LastNote().empty()) {
        UpdateData(true);
        const std::string head = !m_strMessage.empty() && m_strMessage.back() != '\n' ? "\r\n" : "";
        AppendMessage(head + "COM" + std::to_string(m_nPort) + " was remembered, but " + m_profile.LastNote() + "\r\n");
    }
}

bool CConsoleDlg::ReopenLostPort(int port) {
    if (m_ended || m_bPortOpen || port < 1 || port > CComm::kMaxPort) return false;
    if (!m_comm->InitEvents()) return false;
    // The line as it was when the port went away, whatever the radios show now.
    if (!m_comm->OpenPort(static_cast<uint16_t>(port), m_openBaud, 8, kOneStopBit, WireParity(m_openParity)))
        return false;
    m_bPortOpen = 1;
    // On a line of its own: the pane has had other text since the start.
    UpdateData(true);
    const bool newLine = !m_strMessage.empty() && m_strMessage.back() != '\n';
    AppendMessage((newLine ? "\r\n" : "") + std::string("Com Port ") + std::to_string(port) + " is opened");
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnPortOpened(now, port, m_comm->DevicePath()); });
    return true;
}

void CConsoleDlg::OnPortRadio(int id) { m_nPort = static_cast<uint16_t>(id - 1006 + 1); }

void CConsoleDlg::OnParityRadio(int id) { m_nParity = static_cast<uint8_t>(id - 1012); }

void CConsoleDlg::OnBaudRadio(int id) {
    static const uint16_t rates[] = {4800, 9600, 19200, 38400};
    m_nBaud = rates[id - 1016];
}

void CConsoleDlg::ApplyStartLineSettings() {
    static const unsigned rates[] = {4800, 9600, 19200, 38400};
    for (int i = 0; i < 4; ++i) {
        if (m_options.startBaud != rates[i]) continue;
        m_controls.UserClick(1016 + i);
        OnBaudRadio(1016 + i);
    }
    if (m_options.startParity >= 0 && m_options.startParity <= 2) {
        m_controls.UserClick(1012 + m_options.startParity);
        OnParityRadio(1012 + m_options.startParity);
    }
}

void CConsoleDlg::OnModelRadio(int id) {
    m_nModel = id == 1135 ? 1 : 0;
    UpdateData(true);
    ApplyModelEnables();
    UpdateData(false);
}

}  // namespace kalvor
