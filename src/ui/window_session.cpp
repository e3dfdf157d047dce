#include "ui/window_session.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QThread>

#include <ctime>
#include <iostream>

namespace kalvor {

WindowSession::WindowSession(const AppOptions& options, Profile* profile)
    : m_options(options), m_profile(profile) {}

WindowSession::~WindowSession() { Close(); }

bool WindowSession::Prepare(std::string& error) {
    if (m_options.simulate >= 0 && !m_module.Start(m_options.simulate, error)) return false;
    m_outputs = std::make_unique<SessionOutputs>([this](const std::string& message) { ReportWriteFailure(message); });
    if (!m_outputs->Open(m_options, error)) return false;
    if (m_options.trace && m_options.traceFile.empty()) {
        std::cout.flush();
        m_stdoutFile.Adopt(1, "standard output");
        m_stdoutFile.SetFailureHandler([this](const std::string&, const std::string& why) {
            m_outputs->Tally().FileFailed("standard output");
            ReportWriteFailure("cannot write to standard output: " + why + "; the trace from here on is lost");
        });
        m_lineTracer = std::make_unique<HeadlessHost>(m_stdout);
    }

    if (m_profile == nullptr) {
        m_iniProfile = std::make_unique<IniProfile>(IniProfile::DefaultPath());
        m_profile = m_iniProfile.get();
    }
    if (const int startPort = ApplyCommandLinePorts(m_options); startPort > 0) {
        m_pinnedProfile = std::make_unique<PinnedPortProfile>(*m_profile, startPort);
        m_profile = m_pinnedProfile.get();
    }

    m_host = std::make_unique<QtHost>();
    ConsoleOptions consoleOptions;
    consoleOptions.calibrationTabs = m_options.calibration;
    consoleOptions.simulatedModel = m_options.StartModel();
    consoleOptions.startBaud = m_options.baud;
    consoleOptions.startParity = m_options.parity;
    m_dlg = std::make_unique<CConsoleDlg>(*m_host, *m_profile, std::make_unique<CComm>(), consoleOptions);
    m_host->Attach(m_dlg.get());
    m_reconnect = std::make_unique<PortWatcher>(m_host->Sink(), [this](int port) { return m_dlg->ReopenLostPort(port); });
    m_dlg->Events().Add(m_reconnect.get());
    m_tracePath = m_options.traceFile;
    if (HeadlessHost* tracer = m_lineTracer.get())
        m_dlg->Comm().SetTrace(
            [tracer](bool tx, const uint8_t* data, size_t length) { tracer->TraceLine(tx, data, length); });
    m_outputs->Attach(*m_dlg);
    m_window = std::make_unique<ConsoleWindow>(*m_dlg);
    m_window->SetTraceToggle([this] { return ToggleTrace(); });
    if (m_outputs->Tracing()) m_window->ShowFootnote("Trace: " + m_tracePath);
    m_host->SetBoxParent(m_window.get());
    // The live run chart: a window of its own, fed by the run events; Ctrl+G or the window's
    // context menu opens it.
    m_runChart = std::make_unique<RunChartWindow>();
    m_dlg->Events().Add(m_runChart.get());
    auto* chartAction = new QAction(QStringLiteral("Show run chart"), m_window.get());
    chartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QObject::connect(chartAction, &QAction::triggered, m_runChart.get(), [this] { m_runChart->Toggle(m_window.get()); });
    m_window->addAction(chartAction);
    m_runChart->addAction(chartAction);  // Ctrl+G in the chart's window hides it again
    // The window's menu says what the item will do now: show the chart (or bring it to the
    // front) or hide it.
    m_window->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_window.get(), &QWidget::customContextMenuRequested, m_window.get(), [this, chartAction](const QPoint& at) {
        chartAction->setText(m_runChart->ToggleText(m_window.get()));
        QMenu menu(m_window.get());
        menu.addAction(chartAction);
        menu.exec(m_window->mapToGlobal(at));
    });
    m_host->SetEndHandler([this](int) { m_window->close(); });
    return true;
}

void WindowSession::ReportWriteFailure(const std::string& message) {
    // Told once per file, after the write that failed has returned (it may come from inside a
    // handler): a box over the window, and on standard error.
    std::cerr << "kalvor-tp: " << message << std::endl;
    QTimer::singleShot(0, m_window.get(), [this, message] {
        if (m_window) QMessageBox::warning(m_window.get(), "kalvor-tp", QString::fromStdString(message));
    });
}

std::string WindowSession::ToggleTrace() {
    if (m_outputs->Tracing()) {
        m_outputs->StopTrace();
        if (HeadlessHost* tracer = m_lineTracer.get())
            m_dlg->Comm().SetTrace(
                [tracer](bool tx, const uint8_t* data, size_t length) { tracer->TraceLine(tx, data, length); });
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
    std::string why;
    if (!m_outputs->StartTrace(m_tracePath, true, why)) return "Trace: " + why;
    return "Trace: " + m_tracePath;
}

int WindowSession::Start() {
    const int result = m_dlg->OnInitDialog();
    if (!m_dlg->Ended()) m_window->show();
    return result;
}

void WindowSession::Close() {
    // A run under way when the window closes ends as "Cancel" would: the cycle in flight is
    // recorded as interrupted and the run's summary written.
    if (m_dlg && m_dlg->RunActive()) m_dlg->AbortRun(CycleEnd::Interrupted);
    if (m_dlg && !m_dlg->Ended()) m_dlg->OnClose();
    if (m_host) {
        m_host->SetEndHandler(nullptr);
        m_host->Shutdown();  // readers still handing over are released from here on
    }
    if (m_reconnect) {
        m_reconnect->Stop();  // after the host: a hand-over under way has been served or released
        if (m_dlg) m_dlg->Events().Remove(m_reconnect.get());
        m_reconnect.reset();
    }
    if (m_outputs) m_outputs->Detach();
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
