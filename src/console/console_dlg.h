// CConsoleDlg: the console's one dialog and the owner of all its state: the panes, the bound
// values of every control, the serial channel, the link, the dispense run, the calibration
// values, the pages and the port settings. Its handlers run on the UI thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "console/control_table.h"
#include "console/dialog_host.h"
#include "console/profile.h"
#include "console/run_events.h"
#include "protocol/decoders.h"
#include "protocol/link.h"
#include "serial/channel.h"
#include "serial/comm.h"

namespace kalvor {

struct ConsoleOptions {
    bool calibrationTabs = false;  // tabs "Set Environmant" and "Notes Init" at positions 4 and 5
    int simulatedModel = -1;       // -1: none; 0 ZEDA1000, 1 ZEDA2000 selected at start (--simulate, --model)
    // The line the port opens with at start, as if chosen on "SETUP" (--baud, --parity):
    // 0 / -1 keep the dialog's own 9600 baud, no parity.
    unsigned startBaud = 0;        // 4800, 9600, 19200 or 38400
    int startParity = -1;          // 0 none, 1 even, 2 odd
};

class CConsoleDlg : public CommOwner, public DecoderTarget, private LinkHost {
public:
    CConsoleDlg(DialogHost& host, Profile& profile, std::unique_ptr<Channel> channel,
                ConsoleOptions options = {});
    ~CConsoleDlg() override;

    // --- Entry points for the hosts -------------------------------------------------------
    int OnInitDialog();
    void OnTimer(int id);
    void OnPosted(unsigned message, uintptr_t wParam);
    // BN_CLICKED of control `id`; the host has already changed the check state in the table.
    void OnCommand(int id);
    // TCN_SELCHANGE: the host has already set the tab strip's selection.
    void OnSelChangeTab();
    void OnPaint();
    // The window's close box.
    void OnClose();
    // Reconnect: opens `port` again after it was lost, with the current baud rate and parity,
    // and writes "Com Port N is opened" as at the start. False, silently, when it cannot (yet),
    // when a port is open or when the dialog has ended. Called on the UI thread.
    bool ReopenLostPort(int port);

    ControlTable& Controls() { return m_controls; }
    // Run events for what listens to the console (recorder, exit accounting, progress, chart).
    RunEvents& Events() { return m_events; }
    const ControlTable& Controls() const { return m_controls; }
    Channel& Comm() { return *m_comm; }
    const Link& GetLink() const { return m_link; }
    int CurrentPage() const { return m_nCurrentPage; }
    bool PortOpen() const { return m_bPortOpen != 0; }
    // The line as the port settings have it: COM number, baud rate, parity radio (0 None, 1 Even, 2 Odd).
    int PortNumber() const { return m_nPort; }
    int Baud() const { return m_nBaud; }
    int ParityChoice() const { return m_nParity; }
    bool Ended() const { return m_ended; }
    // No command exchange outstanding and no dispense cycle pending.
    bool IsIdle() const;
    // A dispense run is under way: a cycle outstanding, or a pause with a cycle still due.
    bool RunActive() const { return m_cycleOutstanding || (RepeatArmed() && m_nRepeat > m_nExecuted); }
    // Ends what is under way at once: the cycle in flight ends as `how` (port lost, interrupted),
    // the run ends, every link timer stops and the link is idle, so nothing waits any more.
    void AbortRun(CycleEnd how);

    // --- Data exchange and panes ----------------------------------------------------------
    void UpdateData(bool saveAndValidate);
    void AppendMessage(const std::string& text);
    void AppendStatus(const std::string& text);

    // --- DecoderTarget ----------------------------------------------------------------------
    void Pull() override { UpdateData(true); }
    void Push() override { UpdateData(false); }
    PaneLog& MessageText() override { return m_strMessage; }
    PaneLog& StatusText() override { return m_strStatus; }
    int& CheckMember(int controlId) override;
    std::string& EditMember(int controlId) override;
    int Model() const override { return m_nModel; }
    void StopBox(const std::string& text, const char* caption) override;
    void DecodeDispenseReply(uint16_t length) override;

    // --- CommOwner ----------------------------------------------------------------------------
    void OnCommRxChar(const uint8_t* data, uint16_t length) override;
    void OnCommLost() override;

    // --- Pages (console/pages.cpp) ------------------------------------------------------------
    void ShowPage();
    static const char* const kPageCaptions[6];

    // --- Dispense run (operations/dispense_run.cpp) ------------------------------------------
    void OnOkOrDispense();
    void StartDispense();
    void ReadRequestCounts();
    void ReadRepeatCount();
    void SendDispenseFrame();
    void SendNextCycle();
    void CycleWritten();
    void OnCancelRepeat();

    // --- Diagnostic and status commands (operations/diagnostic_commands.cpp) -------------------
    void SendSimpleCommand(uint8_t command);
    void OnStatus();
    void OnPurge();
    void OnDivert();
    void OnBldcSpeed();
    void OnClutch();
    void OnDiverting();
    void OnBillLen();
    void OnRvdt();
    void OnRomVer();
    void OnRvdtRange();
    void OnRvdtValue();
    void OnReadDip();
    void OnRejectBill();
    void OnUpperRadio();
    void OnLowerRadio();

    // --- Calibration pages (operations/calibration_pages.cpp) ---------------------------------
    void OnSetOrType1();
    void OnReqSeepromOrType2();
    void OnReqAverageOrType3();
    void OnType4();
    void BuildSeepromRequest();
    void BuildAverageRequest();
    uint8_t BuildCalibrationWrite();
    void BuildNoteTypeWrite(int type);
    int ParseAverage();
    int ParseNoteLengths();
    int ParseMargins();
    static int HexDigitValue(char c);

    // --- Port settings and model (console/port_settings.cpp) ----------------------------------
    void OpenPortFromProfile();
    void ApplyPortSettings();  // "OK" on "SETUP"
    void OnPortRadio(int id);
    void OnParityRadio(int id);
    void OnBaudRadio(int id);
    void OnModelRadio(int id);
    // The baud rate and parity given on the command line, clicked on "SETUP" before the port opens.
    void ApplyStartLineSettings();
    // The parity radio's code as the line's parity: "Even" puts even parity on the line.
    static uint8_t WireParity(uint8_t parityCode);

private:
    // LinkHost
    void LinkWrite(const uint8_t* bytes, uint32_t length) override;
    void LinkSetTimer(int id, unsigned milliseconds) override;
    void LinkKillTimer(int id) override;
    void LinkErrorBox(const char* text) override;
    void LinkFrameReceived(uint16_t length) override;
    void LinkSendFrameRaw(uint16_t length) override;
    void LinkPostFrameRaw(uint16_t length) override;
    void LinkRepeatTimer() override;
    void LinkAckReceived() override;
    void LinkFailed(const char* how) override;
    void LinkNoted(Note note) override;
    void LinkTimedOut(int timer, LinkState state) override;
    void LinkGaveUp(const char* how, LinkState state) override;
    void RejectNoticeSeen(uint8_t reason) override;
    RunTime Now();
    void EndRun(RunEnd how);
    bool RepeatArmed() const { return (m_armedTimers & (1u << TIMER_REPEAT)) != 0; }

    void SetTimer(int id, unsigned ms);
    void KillTimer(int id);
    void Box(const std::string& text, const std::string& caption, BoxIcon icon);
    void ErrorBox(const std::string& text) { Box(text, "Error", BoxIcon::Stop); }
    void ReportOpenFailure(int port);
    void PortOpened();
    void SendCalibrationFrame();
    void LogStoredFrame();
    void StampSendTime();

    // Page routines (console/pages.cpp).
    void ApplyLayout(const struct ControlLayout* table, size_t count);
    void HideCalibrationControls();
    void ShowStatusPage();
    void HideStatusPage();
    void ShowMenuPage();
    void HideMenuPage();
    void ShowSetupPage();
    void HideSetupPage();
    void ShowTpPage();
    void HideTpPage();
    void ApplyModelEnables();
    void Show(int id, bool show) { m_controls.Show(id, show); }

    struct CheckBinding {
        int id;
        int CConsoleDlg::*member;
    };
    struct TextBinding {
        int id;
        std::string CConsoleDlg::*member;
    };
    static const CheckBinding kCheckBindings[];
    static const TextBinding kTextBindings[];
    // The two panes are exchanged by what changed since the last exchange: the table's text by
    // its version, the dialog's by its log.
    struct PaneBinding {
        int id;
        PaneLog CConsoleDlg::*member;
    };
    static const PaneBinding kPaneBindings[2];
    uint64_t m_paneVersions[2] = {};  // the table's text version at the last exchange of each pane
    void PullPane(int index);
    void PushPane(int index);

    DialogHost& m_host;
    Profile& m_profile;
    ConsoleOptions m_options;
    ControlTable m_controls;
    RunEvents m_events;
    std::unique_ptr<Channel> m_comm;
    Link m_link;

    int m_nCurrentPage = 0;
    bool m_ended = false;
    unsigned m_armedTimers = 0;  // bit per timer id
    bool m_runActive = false;
    bool m_cycleOutstanding = false;
    bool m_cancelRequested = false;  // "Cancel" pressed during the run

    // Panes and edit texts.
    PaneLog m_strMessage, m_strStatus;
    std::string m_strUpperRequest, m_strLowerRequest, m_strRepeat, m_strTotal, m_strExecuted;
    std::string m_strRjtCount;
    std::string m_strAverage1, m_strPlus1, m_strMinus1, m_strMin1, m_strMax1, m_strLen1a, m_strLen1b;
    std::string m_strAverage2, m_strPlus2, m_strMinus2, m_strMin2, m_strMax2, m_strLen2a, m_strLen2b;

    // Check boxes and radios bound by data exchange.
    int m_bNone = 0, m_b9600 = 0, m_bCom1 = 0, m_bCom2 = 0, m_bCom3 = 0, m_bCom4 = 0;
    int m_bUpper = 0, m_bLower = 0;
    int m_bChk1 = 0, m_bChk2 = 0, m_bDiv1 = 0, m_bDiv2 = 0, m_bEjt = 0, m_bExit = 0, m_bChk3 = 0,
        m_bChk4 = 0;
    int m_bRejectTray = 0, m_bLowerCassette = 0, m_bUpperCassette = 0, m_bLowerNearend = 0,
        m_bUpperNearend = 0;
    int m_bUpperEmpty = 0, m_bLowerEmpty = 0, m_bReject = 0, m_bSolSensor = 0;
    int m_bTpUpper = 0, m_bTpLower = 0, m_bZeda1000 = 0, m_bRspTime = 0;
    int m_bDouble = 0, m_bNearing = 0, m_bLength = 0;

    // Port settings and model.
    uint16_t m_nPort = 1;
    uint8_t m_nParity = 0;
    uint16_t m_nBaud = 9600;
    int m_bPortOpen = 0;
    uint16_t m_openBaud = 9600;  // the settings of the last opening, for a reconnect
    uint8_t m_openParity = 0;
    int m_nModel = 0;

    // Dispense run.
    uint16_t m_nCassette = 0;
    char m_upperDigits[3] = {};
    char m_lowerDigits[2] = {};
    uint8_t m_nValidation = 0;
    uint16_t m_nExecuted = 0;
    uint16_t m_nRepeat = 0;
    uint16_t m_nDispensedTotal = 0;
    uint16_t m_nRejectedTotal = 0;
    int64_t m_sendStampMs = 0;
    bool m_haveSendStamp = false;

    // Calibration working values.
    int m_nAverage = 0;
    int m_nAverage2 = 0;  // the second block's own average (ZEDA2000)
    bool m_secondAverageMissing = false;  // the last "Set" found box 1097 unusable under ZEDA2000
    int m_nPlus1 = 0, m_nMinus1 = 0, m_nPlus2 = 0, m_nMinus2 = 0;
    uint8_t m_nLen1a = 0, m_nLen1b = 0, m_nLen2a = 0, m_nLen2b = 0;
    int m_nLimit1 = 0, m_nLimit2 = 0;
    int m_nLimit1b = 0, m_nLimit2b = 0;  // the second block's limits (ZEDA2000)
};

}  // namespace kalvor
