#include "ui/qt_app.h"

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

#include "ui/app_icon.h"
#include "ui/signal_closer.h"
#include "ui/window_session.h"

namespace kalvor {

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

    QApplication app(qtArgc, qtArgv.data());
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
    // SIGINT and SIGTERM close the window as its close box does; the status tells which came.
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
