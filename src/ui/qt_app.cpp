#include "ui/qt_app.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "ui/app_icon.h"
#include "ui/signal_closer.h"
#include "ui/window_session.h"

namespace kalvor {

namespace {

// While the application starts: a display that cannot be reached (an X server that is gone, a
// stale DISPLAY) makes the platform plugin end the process with a fatal message and an abort.
// Instead the reason is told as for no display at all, and the exit status is 2. Nothing has
// been opened or written yet.
bool g_starting = false;
QString g_displayProblem;
std::vector<std::pair<QtMsgType, QString>> g_held;  // the platform plugin's messages while starting
QtMessageHandler g_previousHandler = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_starting && type == QtFatalMsg) {
        QString why = g_displayProblem;
        if (why.isEmpty() && !g_held.empty()) why = g_held.back().second;
        if (why.isEmpty()) why = message.section(QLatin1Char('\n'), 0, 0).trimmed();
        std::cout.flush();
        std::cerr << "kalvor-tp: cannot open the window on the display (" << why.toStdString()
                  << "): use --headless, or run it in a desktop session" << std::endl;
        std::_Exit(kExitBadOptions);
    }
    if (g_starting && context.category != nullptr && QLatin1String(context.category).startsWith(QLatin1String("qt.qpa"))) {
        // "could not connect to display :99": told with the fatal message if one comes.
        if (message.contains(QLatin1String("connect to display"))) g_displayProblem = message.trimmed();
        g_held.emplace_back(type, message);
        return;
    }
    if (g_previousHandler != nullptr) g_previousHandler(type, context, message);
}

// The application started after all: what the platform plugin said goes out as it would have.
void ReleaseHeld() {
    g_starting = false;
    for (const auto& [type, message] : g_held) OnQtMessage(type, QMessageLogContext(nullptr, 0, nullptr, "qt.qpa"), message);
    g_held.clear();
}

}  // namespace

int RunWindow(int argc, char** argv, const AppOptions& options) {
    // Qt sees the program name and the toolkit's own options (-platform, -style) only; the rest
    // has been parsed already.
    std::vector<std::string> args;
    args.emplace_back(argc > 0 ? argv[0] : "kalvor-tp");
    args.insert(args.end(), options.passThrough.begin(), options.passThrough.end());
    std::vector<char*> qtArgv;
    for (std::string& a : args) qtArgv.push_back(a.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(args.size());

    g_starting = true;
    g_previousHandler = qInstallMessageHandler(OnQtMessage);
    QApplication app(qtArgc, qtArgv.data());
    ReleaseHeld();
    QApplication::setApplicationName(QStringLiteral("kalvor-tp"));
    QApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
    QApplication::setWindowIcon(AppIcon());
    // The run ends with the dialog, not with whichever window happens to close last (a box
    // shown before the window would otherwise end it).
    QApplication::setQuitOnLastWindowClosed(false);

    WindowSession session(options);
    std::string error;
    if (!session.Prepare(error)) {
        std::cerr << "kalvor-tp: " << error << std::endl;
        return kExitBadOptions;
    }
    session.Host().SetEndHandler([&session](int) {
        session.Window().close();
        QCoreApplication::quit();
    });
    // SIGINT, SIGTERM and SIGHUP close the open boxes and the window as its close box does; the status
    // tells which came.
    SignalCloser closer([&session](int) {
        session.Window().close();
        QCoreApplication::quit();
    });
    session.Start();
    if (!session.Dialog().Ended() && closer.Signal() == 0) QApplication::exec();
    session.Close();  // the dialog ends (OnClose) before anything is destroyed
    return closer.ExitStatus(kExitOk);
}

}  // namespace kalvor
