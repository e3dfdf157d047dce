#include "console/console_dlg.h"

#include <cstring>

namespace kalvor {

const CConsoleDlg::CheckBinding CConsoleDlg::kCheckBindings[] = {
    {1012, &CConsoleDlg::m_bNone},         {1017, &CConsoleDlg::m_b9600},
    {1006, &CConsoleDlg::m_bCom1},         {1007, &CConsoleDlg::m_bCom2},
    {1008, &CConsoleDlg::m_bCom3},         {1009, &CConsoleDlg::m_bCom4},
    {1026, &CConsoleDlg::m_bUpper},        {1027, &CConsoleDlg::m_bLower},
    {1036, &CConsoleDlg::m_bChk1},         {1037, &CConsoleDlg::m_bChk2},
    {1038, &CConsoleDlg::m_bDiv1},         {1039, &CConsoleDlg::m_bDiv2},
    {1040, &CConsoleDlg::m_bEjt},          {1041, &CConsoleDlg::m_bExit},
    {1042, &CConsoleDlg::m_bChk3},         {1043, &CConsoleDlg::m_bChk4},
    {1045, &CConsoleDlg::m_bRejectTray},   {1046, &CConsoleDlg::m_bLowerCassette},
    {1047, &CConsoleDlg::m_bUpperCassette}, {1048, &CConsoleDlg::m_bLowerNearend},
    {1049, &CConsoleDlg::m_bUpperNearend}, {1072, &CConsoleDlg::m_bUpperEmpty},
    {1073, &CConsoleDlg::m_bLowerEmpty},   {1117, &CConsoleDlg::m_bReject},
    {1118, &CConsoleDlg::m_bSolSensor},    {1125, &CConsoleDlg::m_bTpUpper},
    {1126, &CConsoleDlg::m_bTpLower},      {1134, &CConsoleDlg::m_bZeda1000},
    {1068, &CConsoleDlg::m_bRspTime},      {1119, &CConsoleDlg::m_bDouble},
    {1120, &CConsoleDlg::m_bNearing},      {1121, &CConsoleDlg::m_bLength},
};

const CConsoleDlg::TextBinding CConsoleDlg::kTextBindings[] = {
    {1028, &CConsoleDlg::m_strUpperRequest}, {1029, &CConsoleDlg::m_strLowerRequest},
    {1030, &CConsoleDlg::m_strRepeat},     {1031, &CConsoleDlg::m_strTotal},
    {1032, &CConsoleDlg::m_strExecuted},   {1082, &CConsoleDlg::m_strAverage1},
    {1083, &CConsoleDlg::m_strPlus1},      {1084, &CConsoleDlg::m_strMinus1},
    {1085, &CConsoleDlg::m_strMin1},       {1086, &CConsoleDlg::m_strMax1},
    {1095, &CConsoleDlg::m_strLen1a},      {1096, &CConsoleDlg::m_strLen1b},
    {1097, &CConsoleDlg::m_strAverage2},   {1110, &CConsoleDlg::m_strPlus2},
    {1111, &CConsoleDlg::m_strMinus2},     {1113, &CConsoleDlg::m_strMin2},
    {1114, &CConsoleDlg::m_strMax2},       {1115, &CConsoleDlg::m_strLen2a},
    {1116, &CConsoleDlg::m_strLen2b},      {1137, &CConsoleDlg::m_strRjtCount},
};

const CConsoleDlg::PaneBinding CConsoleDlg::kPaneBindings[2] = {
    {1003, &CConsoleDlg::m_strMessage}, {1004, &CConsoleDlg::m_strStatus}};

CConsoleDlg::CConsoleDlg(DialogHost& host, Profile& profile, std::unique_ptr<Channel> channel,
                         ConsoleOptions options)
    : m_host(host),
      m_profile(profile),
      m_options(options),
      m_comm(channel ? std::move(channel) : std::make_unique<CComm>()),
      m_link(*this) {
    m_comm->SetPortResolver([this](int port) {
        return ResolveComPath(port, [this](const std::string& key) {
            return m_profile.GetString("COMPORTS", key);
        });
    });
}

CConsoleDlg::~CConsoleDlg() {
    // Destroying the dialog destroys the channel, which closes the port and ends its reader.
    if (m_comm->IsConnected()) m_comm->ClosePort();
}

// --- Data exchange -------------------------------------------------------------------------

void CConsoleDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        PullPane(0);
        PullPane(1);
        for (const TextBinding& b : kTextBindings) this->*b.member = m_controls.Text(b.id);
        for (const CheckBinding& b : kCheckBindings) this->*b.member = m_controls.Checked(b.id);
    } else {
        PushPane(0);
        PushPane(1);
        for (const TextBinding& b : kTextBindings) m_controls.SetText(b.id, this->*b.member);
        for (const CheckBinding& b : kCheckBindings) m_controls.SetCheck(b.id, this->*b.member);
    }
}

// The pane's text becomes the table's, as a copy would make it; it is copied only when the two
// differ: the table's was changed (the operator typed) or the dialog's was and was not pushed.
void CConsoleDlg::PullPane(int index) {
    const PaneBinding& b = kPaneBindings[index];
    PaneLog& log = this->*b.member;
    if (m_controls.TextVersion(b.id) == m_paneVersions[index]) {
        // The table holds what was last exchanged: undo what the dialog did since, if anything.
        if (!log.Changed() || log.Revert()) return;
    }
    log.Reset(m_controls.Text(b.id));
    m_paneVersions[index] = m_controls.TextVersion(b.id);
}

// The table's text becomes the pane's: by the change since the last exchange when the table
// still holds what it held then, whole otherwise.
void CConsoleDlg::PushPane(int index) {
    const PaneBinding& b = kPaneBindings[index];
    PaneLog& log = this->*b.member;
    if (m_controls.TextVersion(b.id) != m_paneVersions[index] || log.Replaced())
        m_controls.SetText(b.id, log.str());
    else if (log.Changed())
        m_controls.ChangePaneText(b.id, log.Dropped(), log.Appended());
    log.MarkSynced();
    m_paneVersions[index] = m_controls.TextVersion(b.id);
}

int& CConsoleDlg::CheckMember(int controlId) {
    for (const CheckBinding& b : kCheckBindings)
        if (b.id == controlId) return this->*b.member;
    static int unbound = 0;  // ids without a binding are never asked for by the decoders
    unbound = 0;
    return unbound;
}

std::string& CConsoleDlg::EditMember(int controlId) {
    for (const TextBinding& b : kTextBindings)
        if (b.id == controlId) return this->*b.member;
    static std::string unbound;
    unbound.clear();
    return unbound;
}

void CConsoleDlg::AppendMessage(const std::string& text) {
    UpdateData(true);
    m_strMessage += text;
    UpdateData(false);
}

void CConsoleDlg::AppendStatus(const std::string& text) {
    UpdateData(true);
    m_strStatus += text;
    m_strStatus += "\n\r";
    UpdateData(false);
}

// --- Start-up ------------------------------------------------------------------------------

int CConsoleDlg::OnInitDialog() {
    std::vector<std::string> tabs(kPageCaptions, kPageCaptions + (m_options.calibrationTabs ? 6 : 4));
    m_controls.SetTabs(tabs);

    m_nCurrentPage = 0;
    m_controls.SetTabSelection(0);
    ShowPage();

    m_nPort = 1;
    m_nParity = 0;
    m_nBaud = 9600;
    m_bPortOpen = 0;
    m_nCassette = 0;
    std::memset(m_upperDigits, 0, sizeof m_upperDigits);
    std::memset(m_lowerDigits, 0, sizeof m_lowerDigits);
    m_nDispensedTotal = 0;
    m_nRejectedTotal = 0;

    UpdateData(true);
    m_strUpperRequest = "0";
    m_strLowerRequest = "0";
    m_strRepeat = "1";
    m_strTotal = "0";
    m_strExecuted = "0";
    m_strRjtCount = "0";
    for (const CheckBinding& b : kCheckBindings) this->*b.member = 0;
    m_bNone = 1;
    m_b9600 = 1;
    m_bCom1 = 1;
    m_bTpUpper = 1;
    m_bZeda1000 = 1;
    UpdateData(false);
    ApplyStartLineSettings();

    m_nModel = 0;
    m_nRepeat = 0;
    m_nExecuted = 0;
    m_link.state = LinkState::Idle;
    m_link.ackReplyCount = 0;
    m_link.busy = 0;

    m_comm->SetOwner(this, &m_host.Sink());
    int result = 1;
    if (!m_comm->InitEvents()) {
        ErrorBox("You have to open Comm Port");
        result = -1;
    } else {
        OpenPortFromProfile();
        m_link.ackTimeoutCount = 0;
        m_link.nakCount = 0;
    }

    // A simulated module starts with its model chosen, as if the operator had clicked it.
    if (m_options.simulatedModel == 1) {
        m_controls.UserClick(1135);
        OnModelRadio(1135);
    }
    return result;
}

void CConsoleDlg::OnPaint() {
    if (m_nCurrentPage == 0) m_controls.SetFocus(1050);
}

void CConsoleDlg::OnClose() {
    if (m_ended) return;
    m_ended = true;
    for (int id = TIMER_ACK; id <= TIMER_REPEAT; ++id) KillTimer(id);
    if (m_comm->IsConnected()) m_comm->ClosePort();
    m_bPortOpen = 0;
    m_host.EndDialog(1);
}

bool CConsoleDlg::IsIdle() const {
    if (m_link.busy || m_link.state != LinkState::Idle) return false;
    if ((m_armedTimers & (1u << TIMER_FRAME)) != 0) return false;
    if ((m_armedTimers & (1u << TIMER_REPEAT)) != 0 && m_nRepeat > m_nExecuted) return false;
    return true;
}

// --- Messages ------------------------------------------------------------------------------

void CConsoleDlg::OnCommand(int id) {
    if (m_ended) return;
    switch (id) {
    case 1:
    case 2: OnClose(); break;
    case 1006: case 1007: case 1008: case 1009: OnPortRadio(id); break;
    case 1012: case 1013: case 1014: OnParityRadio(id); break;
    case 1016: case 1017: case 1018: case 1019: OnBaudRadio(id); break;
    case 1134: case 1135: OnModelRadio(id); break;
    case 1020: OnOkOrDispense(); break;
    case 1022: OnCancelRepeat(); break;
    case 1050: OnStatus(); break;
    case 1051: OnPurge(); break;
    case 1054: OnDivert(); break;
    case 1055: OnBldcSpeed(); break;
    case 1056: OnBillLen(); break;
    case 1057: OnDiverting(); break;
    case 1058: OnRvdt(); break;
    case 1059: OnClutch(); break;
    case 1060: OnRomVer(); break;
    case 1066: OnRvdtRange(); break;
    case 1067: OnRvdtValue(); break;
    case 1069: OnReadDip(); break;
    case 1123: OnRejectBill(); break;
    case 1125: OnUpperRadio(); break;
    case 1126: OnLowerRadio(); break;
    case 1098: OnSetOrType1(); break;
    case 1099: OnReqSeepromOrType2(); break;
    case 1100: OnReqAverageOrType3(); break;
    case 1112: OnType4(); break;
    default: break;  // sensor and status boxes, 1026 and 1027: nothing
    }
}

void CConsoleDlg::OnSelChangeTab() {
    m_nCurrentPage = m_controls.TabSelection();
    ShowPage();
}

void CConsoleDlg::OnTimer(int id) {
    if (id >= 0 && id < 32) m_armedTimers &= ~(1u << id);
    if (m_ended) return;
    m_link.OnTimer(id);
}

void CConsoleDlg::OnPosted(unsigned message, uintptr_t wParam) {
    if (m_ended) return;
    if (message == kWmFrameRaw) kalvor::OnFrameRaw(*this, m_link.raw, static_cast<uint16_t>(wParam));
}

void CConsoleDlg::OnCommRxChar(const uint8_t* data, uint16_t length) {
    if (m_ended) return;
    m_link.OnRxChunk(data, length);
}

void CConsoleDlg::OnCommLost() {
    // The reader has ended and the channel is closed: say so instead of waiting for time-outs,
    // and end what was under way at once, as "Cancel" would, so that nothing waits for an answer
    // that cannot come.
    m_bPortOpen = 0;
    AbortRun(CycleEnd::PortLost);
    const RunTime now = Now();
    const std::string device = m_comm->DevicePath();
    m_events.Each([&](RunObserver& o) { o.OnPortLost(now, m_nPort, device); });
    Box("Communication port lost", "comm Error!", BoxIcon::Exclamation);
}

void CConsoleDlg::AbortRun(CycleEnd how) {
    for (int id = TIMER_ACK; id <= TIMER_REPEAT; ++id) KillTimer(id);
    m_link.state = LinkState::Idle;
    m_link.busy = 0;
    m_link.ackReplyCount = 0;
    m_link.ackTimeoutCount = 0;
    m_link.nakCount = 0;
    m_nRepeat = 0;
    if (m_cycleOutstanding) {
        m_cycleOutstanding = false;
        const RunTime now = Now();
        m_events.Each([&](RunObserver& o) { o.OnCycleFailed(now, how); });
    }
    EndRun(how == CycleEnd::PortLost ? RunEnd::PortLost : RunEnd::Interrupted);
}

void CConsoleDlg::StopBox(const std::string& text, const char* caption) { Box(text, caption, BoxIcon::Stop); }

void CConsoleDlg::Box(const std::string& text, const std::string& caption, BoxIcon icon) {
    const RunTime now = Now();
    const BoxKind kind = BoxKindOf(text, caption);
    m_events.Each([&](RunObserver& o) { o.OnBox(now, text, caption, kind); });
    m_host.MessageBox(text, caption, icon);
}

RunTime CConsoleDlg::Now() { return {m_host.MonotonicUs(), m_host.WallClockUs()}; }

// --- Link host -----------------------------------------------------------------------------

void CConsoleDlg::SetTimer(int id, unsigned ms) {
    if (id >= 0 && id < 32) m_armedTimers |= 1u << id;
    m_host.SetTimer(id, ms);
}

void CConsoleDlg::KillTimer(int id) {
    if (id >= 0 && id < 32) m_armedTimers &= ~(1u << id);
    m_host.KillTimer(id);
}

void CConsoleDlg::LinkWrite(const uint8_t* bytes, uint32_t length) { m_comm->WriteComm(bytes, length); }
void CConsoleDlg::LinkSetTimer(int id, unsigned milliseconds) { SetTimer(id, milliseconds); }
void CConsoleDlg::LinkKillTimer(int id) { KillTimer(id); }

void CConsoleDlg::LinkErrorBox(const char* text) { ErrorBox(text); }

void CConsoleDlg::LinkFrameReceived(uint16_t length) {
    kalvor::OnFrameReceived(*this, m_link.rx, length);
    // A good frame ends the link's exchange. When it was not the answer of the dispense cycle
    // still outstanding, something must keep the run from waiting for ever:
    if (!m_cycleOutstanding || m_link.busy) return;
    const uint8_t stored = m_link.frame.bytes[3];
    if (stored == cmd::DispenseUpper || stored == cmd::DispenseLower || stored == cmd::DispenseBoth) {
        // another frame (a late answer to an earlier command, an unasked one) came first: the
        // wait for the cycle's answer goes on, with its time-out;
        m_link.busy = 1;
        SetTimer(TIMER_RESPONSE, kResponseWaitMs);
    } else {
        // an unguarded command ("RVDT Value", "READ DIP", the calibration buttons) replaced the
        // stored frame and has been answered: nothing waits for the cycle's answer any more.
        LinkFailed("replaced");
    }
}
void CConsoleDlg::LinkSendFrameRaw(uint16_t length) { kalvor::OnFrameRaw(*this, m_link.raw, length); }
void CConsoleDlg::LinkPostFrameRaw(uint16_t length) { m_host.PostMessage(kWmFrameRaw, length); }
void CConsoleDlg::LinkRepeatTimer() { SendNextCycle(); }

void CConsoleDlg::LinkAckReceived() {
    if (!m_cycleOutstanding) return;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnCycleAck(now); });
}

void CConsoleDlg::LinkNoted(Note note) {
    const LinkEvent event = note == Note::Resent    ? LinkEvent::Resent
                            : note == Note::NakSent ? LinkEvent::NakSent
                                                    : LinkEvent::NakReceived;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnLinkEvent(now, event); });
}

void CConsoleDlg::LinkTimedOut(int timer, LinkState state) {
    const LinkTimer which = timer == TIMER_ACK     ? LinkTimer::Ack
                            : timer == TIMER_FRAME ? LinkTimer::Frame
                                                   : LinkTimer::Response;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnLinkTimeOut(now, which, LinkStateName(state)); });
}

void CConsoleDlg::LinkGaveUp(const char* how, LinkState state) {
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnLinkGaveUp(now, how, LinkStateName(state)); });
}

void CConsoleDlg::RejectNoticeSeen(uint8_t reason) {
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnRejectNotice(now, RejectReasonOf(reason), reason); });
}

void CConsoleDlg::LinkFailed(const char* how) {
    if (!m_cycleOutstanding) return;
    // An unasked notice given up unfinished is no answer to the cycle: the answer may still come,
    // and the wait for it goes on, with its time-out (the notice's SOH stopped it). A lone SOH
    // is no notice: the byte after it in the received frame is left over from an earlier frame.
    const bool cutOff = std::strcmp(how, "cut off") == 0;
    if (cutOff && m_link.rxLength >= 2 && m_link.rx[1] == cmd::Notice) {
        m_link.busy = 1;
        SetTimer(TIMER_RESPONSE, kResponseWaitMs);
        return;
    }
    CycleEnd end = CycleEnd::BadFrames;
    if (std::strcmp(how, "no ACK") == 0) end = CycleEnd::NoAck;
    else if (std::strcmp(how, "no answer") == 0) end = CycleEnd::NoAnswer;
    else if (std::strcmp(how, "replaced") == 0) end = CycleEnd::Replaced;
    // A cycle written while no port was open never reached a module (a lost port ends the run
    // at once, so a cycle still outstanding here was written without one).
    if (!m_bPortOpen) end = CycleEnd::PortNotOpen;
    m_cycleOutstanding = false;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnCycleFailed(now, end); });
    EndRun(end == CycleEnd::Replaced      ? RunEnd::Replaced
           : end == CycleEnd::PortNotOpen ? RunEnd::PortNotOpen
                                          : RunEnd::LinkFailed);
}

void CConsoleDlg::EndRun(RunEnd how) {
    if (!m_runActive) return;
    m_runActive = false;
    const RunTime now = Now();
    m_events.Each([&](RunObserver& o) { o.OnRunEnded(now, how); });
}

}  // namespace kalvor
