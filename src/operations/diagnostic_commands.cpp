// The single diagnostic and status commands: one button, one frame without data.
#include "console/console_dlg.h"

namespace kalvor {

void CConsoleDlg::SendSimpleCommand(uint8_t command) {
    m_link.frame.Build(command);
    m_link.SendStored(kAckWaitMs);
}

namespace {
// Lines up the values that the answer will append on a line of their own.
void NewMessageLine(CConsoleDlg& dlg) {
    dlg.Pull();
    dlg.MessageText() += "\r\n";
    dlg.Push();
}
}  // namespace

void CConsoleDlg::OnStatus() {
    if (m_link.busy) return;
    SendSimpleCommand(cmd::Status);
}

void CConsoleDlg::OnPurge() {
    if (m_link.busy) return;
    SendSimpleCommand(cmd::Purge);
}

void CConsoleDlg::OnDivert() {
    if (m_link.busy) return;
    SendSimpleCommand(cmd::Divert);
}

void CConsoleDlg::OnBldcSpeed() {
    if (m_link.busy) return;
    SendSimpleCommand(cmd::BldcSpeed);
}

void CConsoleDlg::OnClutch() {
    if (m_link.busy) return;
    SendSimpleCommand(m_bTpLower == 1 ? cmd::ClutchLower : cmd::ClutchUpper);
}

void CConsoleDlg::OnDiverting() {
    if (m_link.busy) return;
    SendSimpleCommand(m_bTpLower == 1 ? cmd::DivertingLower : cmd::DivertingUpper);
}

void CConsoleDlg::OnBillLen() {
    if (m_link.busy) return;
    SendSimpleCommand(m_bTpLower == 1 ? cmd::BillLenLower : cmd::BillLenUpper);
    NewMessageLine(*this);
}

void CConsoleDlg::OnRvdt() {
    if (m_link.busy) return;
    SendSimpleCommand(m_bTpLower == 1 ? cmd::RvdtLower : cmd::RvdtUpper);
    NewMessageLine(*this);
}

void CConsoleDlg::OnRomVer() {
    if (m_link.busy) return;
    SendSimpleCommand(cmd::RomVersion);
}

void CConsoleDlg::OnRvdtRange() {
    if (m_link.busy) return;
    SendSimpleCommand(cmd::RvdtRange);
}

// "RVDT Value" and "READ DIP" send whatever the busy flag says.
void CConsoleDlg::OnRvdtValue() { SendSimpleCommand(cmd::RvdtValue); }

void CConsoleDlg::OnReadDip() { SendSimpleCommand(cmd::ReadDip); }

void CConsoleDlg::OnRejectBill() {
    if (m_link.busy) return;
    SendSimpleCommand(m_bTpLower == 1 ? cmd::RejectLower : cmd::RejectUpper);
    NewMessageLine(*this);
}

void CConsoleDlg::OnUpperRadio() {
    UpdateData(true);
    if (m_bTpUpper) m_bTpLower = 0;
    UpdateData(false);
}

void CConsoleDlg::OnLowerRadio() {
    UpdateData(true);
    if (m_bTpLower) m_bTpUpper = 0;
    UpdateData(false);
}

}  // namespace kalvor
