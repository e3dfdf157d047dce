#include "ui/window_session.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <ctime>
#include <iostream>

namespace kalvor {

WindowSession::WindowSession(const AppOptions& options, Profile* profile)
    : m_options(options), m_profile(profile) {}

WindowSession::~WindowSession() { Close(); }

bool WindowSession::Prepare(std::string& error) {
    if (m_options.simulate >= 0 && !m_module.Start(m_options.simulate, error)) return false;
    if (!m_options.traceFile.empty()) {
        m_traceFile.open(m_options.traceFile, std::ios::trunc);
        if (!m_traceFile) {
            error = "cannot write the trace file " + m_options.traceFile;
            return false;
        }
    }
    if (m_options.trace && m_options.traceFile.empty()) m_lineTracer = std::make_unique<HeadlessHost>(std::cout);
    if (m_options.trace && !m_options.traceFile.empty()) m_fileTracer = std::make_unique<TraceFile>(m_traceFile);

    if (m_profile == nullptr) {
        m_iniProfile = std::make_unique<IniProfile>(IniProfile::DefaultPath());
        m_profile = m_iniProfile.get();
    }
    if (m_options.simulate >= 0) {
        m_simProfile = std::make_unique<SimulationProfile>(*m_profile);
        m_profile = m_simProfile.get();
    }

    m_host = std::make_unique<QtHost>();
    ConsoleOptions consoleOptions;
    consoleOptions.calibrationTabs = m_options.calibration;
    consoleOptions.simulatedModel = m_options.simulate;
    m_dlg = std::make_unique<CConsoleDlg>(*m_host, *m_profile, std::make_unique<CComm>(), consoleOptions);
    m_host->Attach(m_dlg.get());
    m_tracePath = m_options.traceFile;
    ApplyTrace();
    if (!m_options.results.empty() && !m_dlg->RecordResults(m_options.results)) {
        error = "cannot write the results file " + m_options.results;
        return false;
    }
    m_window = std::make_unique<ConsoleWindow>(*m_dlg);
    m_window->SetTraceToggle([this] { return ToggleTrace(); });
    if (m_fileTracer) m_window->ShowFootnote("Trace: " + m_tracePath);
    m_host->SetBoxParent(m_window.get());
    // The live run chart: a window of its own, fed by the run events; Ctrl+G or the window's
    // context menu opens it.
    m_runChart = std::make_unique<RunChartWindow>();
    m_dlg->Events().Add(m_runChart.get());
    auto* chartAction = new QAction(QStringLiteral("Run chart"), m_window.get());
    chartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QObject::connect(chartAction, &QAction::triggered, m_runChart.get(), &RunChartWindow::Toggle);
    m_window->addAction(chartAction);
    m_window->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_host->SetEndHandler([this](int) { m_window->close(); });
    return true;
}

void WindowSession::ApplyTrace() {
    if (TraceFile* tracer = m_fileTracer.get()) {
        m_dlg->Comm().SetTrace([tracer](bool tx, const uint8_t* data, size_t length) { tracer->Line(tx, data, length); });
    } else if (HeadlessHost* tracer = m_lineTracer.get()) {
        m_dlg->Comm().SetTrace(
            [tracer](bool tx, const uint8_t* data, size_t length) { tracer->TraceLine(tx, data, length); });
    } else {
        m_dlg->Comm().SetTrace(nullptr);
    }
}

std::string WindowSession::ToggleTrace() {
    if (m_fileTracer) {
        m_fileTracer.reset();
        m_traceFile.close();
        ApplyTrace();
        return "";
    }
    if (m_tracePath.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char name[64];
        std::strftime(name, sizeof name, "kalvor-trace-%Y%m%d-%H%M%S.txt", &tm);
        m_tracePath = name;
    }
    // A trace started again goes on at the end of its file.
    if (m_traceFile.is_open()) m_traceFile.close();
    m_traceFile.clear();
    m_traceFile.open(m_tracePath, std::ios::app);
    if (!m_traceFile) {
        m_traceFile.clear();
        return "Trace: cannot write " + m_tracePath;
    }
    m_fileTracer = std::make_unique<TraceFile>(m_traceFile);
    ApplyTrace();
    return "Trace: " + m_tracePath;
}

int WindowSession::Start() {
    const int result = m_dlg->OnInitDialog();
    if (!m_dlg->Ended()) m_window->show();
    return result;
}

void WindowSession::Close() {
    if (m_dlg && !m_dlg->Ended()) m_dlg->OnClose();
    if (m_host) {
        m_host->SetEndHandler(nullptr);
        m_host->Shutdown();  // readers still handing over are released from here on
    }
    if (m_runChart) {
        if (m_dlg) m_dlg->Events().Remove(m_runChart.get());
        m_runChart.reset();
    }
    m_window.reset();
    if (m_host) m_host->Attach(nullptr);
    m_dlg.reset();  // closes a port that is still open
    if (m_host) {
        // A reader that had a chunk in hand when its port closed may still call the host: keep
        // the host until every reader has seen its port closed and ended (at once, normally).
        QElapsedTimer waited;
        waited.start();
        while (CComm::RunningReaders() > 0 && waited.elapsed() < 3000) QThread::msleep(2);
    }
    m_host.reset();
    m_module.Stop();
}

}  // namespace kalvor
