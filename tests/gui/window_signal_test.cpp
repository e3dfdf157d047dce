// SIGTERM, SIGINT and SIGHUP in the middle of a dispense run close the window as its close box does:
// the dialog ends through OnClose, the results file holds what was run, and the exit status is
// 128 + the signal. A message box open at that moment is closed first.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include "gui_support.h"
#include "ui/signal_closer.h"

using namespace kalvor;
using namespace kalvor::guitest;

TEST(WindowSignals, TermIntAndHupCloseTheWindowMidRun) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        QTemporaryDir dir;
        AppOptions options;
        options.simulate = 1;
        options.results = dir.filePath(QStringLiteral("results.csv")).toStdString();
        auto c = std::make_unique<Console>(options);
        ASSERT_TRUE(c->prepared) << c->prepareError;
        int calls = 0;
        auto closer = std::make_unique<SignalCloser>([&](int) {
            ++calls;
            c->window().close();
        });
        EXPECT_EQ(closer->ExitStatus(7), 7);  // nothing came yet

        c->ClickTab(1);
        c->Click(1026);
        c->Type(1028, "1");
        c->Type(1030, "200");
        c->Click(1020);
        ASSERT_TRUE(WaitFor([&] { return c->table().Text(1032) >= "2" && c->table().Text(1032).size() == 1; }, 60000));
        ASSERT_FALSE(c->dlg().Ended());
        ::raise(sig);
        ASSERT_TRUE(WaitFor([&] { return c->dlg().Ended(); }));
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(closer->Signal(), sig);
        EXPECT_EQ(closer->ExitStatus(0), 128 + sig);
        EXPECT_FALSE(c->window().isVisible());
        // A second signal would end the process at once: the previous disposition is back.
        struct sigaction now {};
        ::sigaction(sig, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
        closer.reset();
        c.reset();  // the session closes and its files are flushed

        std::ifstream in(options.results);
        std::stringstream text;
        text << in.rdbuf();
        const std::string rows = text.str();
        EXPECT_GE(std::count(rows.begin(), rows.end(), '\n'), 3) << rows;  // a header and the cycles run
        EXPECT_EQ(rows.back(), '\n');
    }
}

TEST(WindowSignals, ABoxOpenAtTheSignalIsClosedFirst) {
    Console c;  // no port: "OK" on "SETUP" fails with a box
    ASSERT_TRUE(c.prepared) << c.prepareError;
    c.boxes.keepOpen = [] { return true; };
    SignalCloser closer([&](int) { c.window().close(); });
    c.ClickTab(2);
    // The box's own loop runs the timer: the signal comes while the box is open.
    QTimer::singleShot(200, [] { ::raise(SIGTERM); });
    c.Click(1020);  // returns when the box has been closed
    ASSERT_TRUE(WaitFor([&] { return c.dlg().Ended(); }));
    EXPECT_EQ(closer.ExitStatus(0), 128 + SIGTERM);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(c.window().isVisible());
}
