#include "app/headless/session_outputs.h"

#include "app/headless/module_identity.h"
#include "app/headless/session_files.h"
#include "console/console_dlg.h"
#include "console/profile.h"

namespace kalvor {

namespace {

// The pane's last line is ended before the summary is added, so the summary stands on a line of its own.
void AppendLine(CConsoleDlg& dlg, const std::string& line) {
    dlg.Pull();
    PaneLog& pane = dlg.MessageText();
    if (!pane.empty() && pane.back() != '\n') pane += "\r\n";
    pane += line;
    pane += "\r\n";
    dlg.Push();
}

}  // namespace

SessionOutputs::SessionOutputs(std::function<void(const std::string&)> reporter) : m_report(std::move(reporter)) {}

SessionOutputs::~SessionOutputs() { Detach(); }

bool SessionOutputs::Open(const AppOptions& options, std::string& error) {
    m_module = options.module;
    // Everything is checked before anything is emptied: the names, then each file opened as it
    // is, then the files as opened (one file by two names the first look missed).
    const std::string profilePath = IniProfile::DefaultPath();
    error = SameFileProblem(SessionFiles(options, profilePath));
    if (error.empty()) error = ProfileProblem(profilePath);
    if (!error.empty()) return false;
    std::string reason;
    if (!options.results.empty()) {
        m_recorder = std::make_unique<BurnInRecorder>();
        m_recorder->SetFailureHandler([this](const std::string& message) {
            m_tally.FileFailed("results file");
            if (m_report) m_report(message);
        });
        if (!m_recorder->Prepare(options.results, options.append, reason)) {
            error = "cannot write the results file " + options.results + ": " + reason;
            m_recorder.reset();
            return false;
        }
    }
    const bool traceFile = options.trace && !options.traceFile.empty();
    if (traceFile && !m_traceFile.Prepare(options.traceFile, options.append, reason))
        error = "cannot write the trace file " + options.traceFile + ": " + reason;
    else if (traceFile && m_recorder && options.results != "/dev/null" &&
             m_recorder->File().SameFileAs(m_traceFile.Device(), m_traceFile.Inode()))
        error = "the results file and the trace file are the same file (" + options.traceFile + ")";
    if (error.empty() && m_recorder && !m_recorder->Begin(reason))
        error = "cannot write the results file " + options.results + ": " + reason;
    if (error.empty() && traceFile && !m_traceFile.Begin(reason))
        error = "cannot write the trace file " + options.traceFile + ": " + reason;
    if (!error.empty()) {
        if (m_recorder) m_recorder->File().Abandon();
        m_recorder.reset();
        m_traceFile.Abandon();
        return false;
    }
    if (traceFile) BeginTrace();
    return true;
}

void SessionOutputs::Attach(CConsoleDlg& dlg) {
    m_dlg = &dlg;
    dlg.Events().Add(&m_tally);
    if (m_recorder) {
        dlg.Events().Add(m_recorder.get());
        m_recorder->SetModelSource([this] { return m_dlg ? m_dlg->Model() : -1; });
        m_recorder->SetSummarySink([this](const std::string& line) {
            if (m_dlg) AppendLine(*m_dlg, line);
            if (m_echo) m_echo(line);
        });
    }
    dlg.Events().Add(this);
    ApplyTrace();
}

void SessionOutputs::Detach() {
    if (!m_dlg) return;
    m_dlg->Events().Remove(&m_tally);
    if (m_recorder) m_dlg->Events().Remove(m_recorder.get());
    m_dlg->Events().Remove(this);
    if (m_traceSet) m_dlg->Comm().SetTrace(nullptr);
    m_traceSet = false;
    m_dlg = nullptr;
}

bool SessionOutputs::StartTrace(const std::string& path, bool append, std::string& error) {
    StopTrace();
    std::string reason;
    if (!m_traceFile.Open(path, append, reason)) {
        error = "cannot write the trace file " + path + ": " + reason;
        return false;
    }
    if (m_recorder && path != "/dev/null" &&
        m_recorder->File().SameFileAs(m_traceFile.Device(), m_traceFile.Inode())) {
        m_traceFile.Close();
        error = "cannot write the trace file " + path + ": it is the results file";
        return false;
    }
    BeginTrace();
    return true;
}

void SessionOutputs::BeginTrace() {
    m_traceFile.SetFailureHandler([this](const std::string& file, const std::string& why) {
        m_tally.FileFailed("trace file");
        if (m_report) m_report("cannot write the trace file " + file + ": " + why + "; the trace from here on is lost");
    });
    m_trace = std::make_unique<TraceFile>(m_traceFile);
    m_trace->Header(WallClockNowUs(), "");
    m_portNotePending = m_dlg && m_dlg->PortOpen();
    ApplyTrace();
}

void SessionOutputs::StopTrace() {
    m_trace.reset();
    m_traceFile.Close();
    ApplyTrace();
}

void SessionOutputs::ApplyTrace() {
    // The channel's trace is ours only while a trace file runs or ran: the short lines of
    // --trace without a file belong to the host.
    if (!m_dlg || (!m_trace && !m_traceSet)) return;
    m_traceSet = m_trace != nullptr;
    if (m_trace)
        m_dlg->Comm().SetTrace([this](bool tx, const uint8_t* data, size_t length) {
            // The port's line is written before its first traffic, when the start-up has set the
            // model and the settings it opened with.
            if (m_portNotePending) m_trace->Note(PortLine()), m_trace->Note(IdentityLine());
            m_portNotePending = false;
            m_trace->Line(tx, data, length);
        });
    else
        m_dlg->Comm().SetTrace(nullptr);
}

std::string SessionOutputs::IdentityLine() const {
    const RecordIdentity& id = m_identity;
    auto or_ = [](const std::string& v) { return v.empty() ? std::string("-") : v; };
    return "module " + or_(id.module) + ", port " + or_(id.port) + ", device " + or_(id.device) + ", adapter " +
           or_(id.adapter) + ", station " + or_(id.station);
}

std::string SessionOutputs::PortLine() const {
    static const char* const kParity[] = {"None", "Even", "Odd"};
    const int parity = m_dlg->ParityChoice();
    return "COM" + std::to_string(m_dlg->PortNumber()) + " " + m_dlg->Comm().DevicePath() + " opened, " +
           std::to_string(m_dlg->Baud()) + " baud, parity " + (parity >= 0 && parity < 3 ? kParity[parity] : "?") +
           ", 8 data bits, 1 stop bit, model " + (m_dlg->Model() == 1 ? "ZEDA2000" : "ZEDA1000");
}

void SessionOutputs::OnPortOpened(const RunTime&, int port, const std::string& device) {
    m_identity = IdentifyModule(m_module, device);
    if (m_recorder) m_recorder->SetIdentity(m_identity);
    m_portNotePending = true;
    if (m_trace) m_trace->Event("PORT", "COM" + std::to_string(port) + " " + device + (m_portLost ? " opened again" : " opened"));
    m_portLost = false;
}

void SessionOutputs::OnBurnPlanned(unsigned planned) {
    // The recorder hears of the plan itself (it is a listener of its own).
    if (m_trace) m_trace->Note(planned ? "burn: " + std::to_string(planned) + " cycles planned" : "burn ended");
}
void SessionOutputs::OnPortOpenFailed(const RunTime&, int port, const std::string& device, const std::string& reason) {
    if (m_trace) m_trace->Event("PORT", "COM" + std::to_string(port) + " " + device + " not opened: " + reason);
}

void SessionOutputs::OnPortLost(const RunTime&, int port, const std::string& device) {
    m_portLost = true;
    if (m_trace) m_trace->Event("PORT", "COM" + std::to_string(port) + " " + device + " lost");
}

void SessionOutputs::OnBox(const RunTime&, const std::string& text, const std::string& caption, BoxKind) {
    if (m_trace) m_trace->Event("BOX", caption + ": " + text);
}

void SessionOutputs::OnLinkTimeOut(const RunTime&, LinkTimer timer, const char* state) {
    if (!m_trace) return;
    // What the device held unread at that moment tells a late line from a late console.
    const size_t unread = m_dlg ? m_dlg->Comm().UnreadBytes() : 0;
    m_trace->Event("LINK", std::string("time-out: ") + LinkTimerName(timer) + " timer in " + state +
                               (unread ? ", " + std::to_string(unread) + " bytes unread on the line" : ""));
}

void SessionOutputs::OnLinkGaveUp(const RunTime&, const char* how, const char* state) {
    if (m_trace) m_trace->Event("LINK", std::string("gave up: ") + how + " in " + state);
}

void SessionOutputs::NoteAction(const std::string& line) {
    // A script line can be of any length: the trace keeps its first 200 characters.
    if (m_trace) m_trace->Event("SCRIPT", line.size() > 200 ? line.substr(0, 200) + "..." : line);
}

}  // namespace kalvor
