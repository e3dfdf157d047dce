// The window during a long run: the time one dispense cycle costs the window's UI thread, at the
// start of a run and after 10,000 lines in each pane. The console runs in its Qt window
// (ConsoleWindow observing the control table, QtHost) under QT_QPA_PLATFORM=offscreen, with a
// channel that writes nowhere. Every cycle hands the console, as the reader would, a reject notice
// and a dispense answer ("Rsp Time" ticked): the notice becomes a line in the Message pane, the
// answer a line in the Status pane and the three counts; then the event loop runs until the window
// has been repainted.
//
//   bench_window [CYCLES]      (default 10200: 200 measured at the start, 200 after 10,000)
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "console/console_dlg.h"
#include "ui/console_window.h"
#include "ui/qt_host.h"

using namespace kalvor;
using Clock = std::chrono::steady_clock;

namespace {

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void Summary(const char* what, std::vector<double> handler, std::vector<double> window, std::vector<double> total) {
    std::printf("  %-34s cycle median %8.1f us, p99 %8.1f us | console + mirroring median %8.1f us | "
                "event loop and repaint median %8.1f us\n",
                what, bench::Percentile(total, 50), bench::Percentile(total, 99), bench::Percentile(handler, 50),
                bench::Percentile(window, 50));
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 10200;
    const int measured = 200;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);

    QtHost host;
    bench::NullProfile profile;
    auto channel = std::make_unique<bench::NullChannel>();
    CConsoleDlg dlg(host, profile, std::move(channel), ConsoleOptions{});
    host.Attach(&dlg);
    ConsoleWindow window(dlg);
    host.SetBoxParent(&window);
    dlg.OnInitDialog();
    window.show();
    QApplication::processEvents();
    const long rssStart = bench::ResidentKiB();

    // A run of one cycle with "Rsp Time" ticked gives the send stamp that every answer's line uses.
    ControlTable& t = dlg.Controls();
    t.SetTabSelection(1);
    dlg.OnSelChangeTab();
    for (int id : {1026, 1068}) {
        t.UserClick(id);
        dlg.OnCommand(id);
    }
    t.UserSetText(1030, "1");
    dlg.OnCommand(1020);
    const uint8_t ack[] = {ACK};
    dlg.OnCommRxChar(ack, 1);
    QApplication::processEvents();

    const bench::Bytes notice = {SOH, 0x9C, '<'};
    const bench::Bytes answer = bench::Response('E', {'0', '2', '0', '2', '1', '0', '0', '1'});
    std::vector<double> handler, repaint, total, handlerLate, repaintLate, totalLate;
    for (int i = 0; i < cycles; ++i) {
        const auto t0 = Clock::now();
        dlg.OnCommRxChar(notice.data(), static_cast<uint16_t>(notice.size()));
        dlg.OnCommRxChar(answer.data(), static_cast<uint16_t>(answer.size()));
        const auto t1 = Clock::now();
        QApplication::processEvents();
        const auto t2 = Clock::now();
        if (i < measured) {
            handler.push_back(Us(t1 - t0));
            repaint.push_back(Us(t2 - t1));
            total.push_back(Us(t2 - t0));
        } else if (i >= cycles - measured) {
            handlerLate.push_back(Us(t1 - t0));
            repaintLate.push_back(Us(t2 - t1));
            totalLate.push_back(Us(t2 - t0));
        }
    }
    const long rssEnd = bench::ResidentKiB();
    const size_t messageBytes = t.Text(1003).size(), statusBytes = t.Text(1004).size();
    std::printf("Window (offscreen) per dispense cycle: a notice line in the Message pane, an answer line in the "
                "Status pane\n");
    Summary("first 200 cycles", handler, repaint, total);
    char late[64];
    std::snprintf(late, sizeof late, "cycles %d-%d", cycles - measured + 1, cycles);
    Summary(late, handlerLate, repaintLate, totalLate);
    std::printf("  panes at the end: Message %zu bytes, Status %zu bytes; resident memory %.1f MiB at start, %.1f MiB "
                "at the end\n",
                messageBytes, statusBytes, rssStart / 1024.0, rssEnd / 1024.0);
    dlg.OnClose();
    host.Shutdown();
    return 0;
}
