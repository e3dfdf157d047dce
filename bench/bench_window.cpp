// The window during a long run: the time one dispense cycle costs the window's UI thread, at the
// start of a run and after 10,000 lines in each pane. The console runs in its Qt window
// (ConsoleWindow observing the control table, QtHost) under QT_QPA_PLATFORM=offscreen, with a
// channel that writes nowhere. Every cycle hands the console, as the reader would, a reject notice
// and a dispense answer ("Rsp Time" ticked): the notice becomes a line in the Message pane, the
// answer a line in the Status pane and the three counts; then the event loop runs until the window
// has been repainted.
//
//   bench_window [CYCLES]      (default 10200: 200 measured at the start, 200 after 10,000)
//
// With --panes, the time per frame instead, for three kinds of frame and both panes holding 0,
// 10,000 and 100,000 lines and filled to their 4 MiB limit: the console, the mirroring onto the
// window and the event loop with its repaint, per frame (median and p99 of 2,000 frames).
//
//   bench_window --panes
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
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

struct Figures {
    double median, p99;
    long rssKiB;
};

// One window, its panes filled with `lines` lines (-1: to the limit), then `frames` of `unit`.
Figures FramesWithPanes(const bench::Bytes& unit, long lines, int frames) {
    QtHost host;
    bench::NullProfile profile;
    CConsoleDlg dlg(host, profile, std::make_unique<bench::NullChannel>(), ConsoleOptions{});
    host.Attach(&dlg);
    ConsoleWindow window(dlg);
    host.SetBoxParent(&window);
    dlg.OnInitDialog();
    window.show();
    const std::string line = "STATUS ERR : 00 SEN0 : 41 SEN1 : 02\r\n";
    const size_t n = lines >= 0 ? static_cast<size_t>(lines) : PaneLog::kDefaultLimit / line.size();
    std::string pane;
    pane.reserve(n * line.size());
    for (size_t i = 0; i < n; ++i) pane += line;
    dlg.Controls().SetText(1003, pane);
    dlg.Controls().SetText(1004, pane);
    QApplication::processEvents();
    std::vector<double> us;
    for (int i = 0; i < frames + 200; ++i) {
        const auto t0 = Clock::now();
        dlg.OnCommRxChar(unit.data(), static_cast<uint16_t>(unit.size()));
        QApplication::processEvents();
        if (i >= 200) us.push_back(Us(Clock::now() - t0));
    }
    const Figures f{bench::Percentile(us, 50), bench::Percentile(us, 99), bench::ResidentKiB()};
    dlg.OnClose();
    host.Shutdown();
    return f;
}

int PanesMode() {
    struct Kind {
        const char* name;
        bench::Bytes unit;
    };
    const Kind kinds[] = {{"STATUS answers", bench::Response('F', {'0', 0x00, 0x41, 0x02})},
                          {"raw frames (cut notices)", {SOH, 0x9C, '<', SOH}},
                          {"unasked frames (notices)", bench::Response(0x9C, {'1'}, 0x9C)}};
    std::printf("Window (offscreen), time per frame with both panes long (median / p99 of 2,000 frames)\n");
    for (const Kind& k : kinds) {
        std::printf("  %-26s", k.name);
        double base = 0;
        for (long lines : {0L, 10000L, 100000L, -1L}) {
            const Figures f = FramesWithPanes(k.unit, lines, 2000);
            if (lines == 0) base = f.median;
            std::printf(" | %s %6.1f / %6.1f us (%.2f)", lines < 0 ? "limit" : std::to_string(lines).c_str(), f.median,
                        f.p99, f.median / base);
        }
        std::printf("\n");
    }
    std::printf("  resident memory after the last run: %.1f MiB\n", bench::ResidentKiB() / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool panes = argc > 1 && std::string(argv[1]) == "--panes";
    const int cycles = argc > 1 && !panes ? std::atoi(argv[1]) : 10200;
    const int measured = 200;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    if (panes) return PanesMode();

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
