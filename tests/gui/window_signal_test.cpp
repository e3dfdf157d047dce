// A signal closes the window as its close box does, with exit status 128 + the signal; a message
// box open at that moment is closed first.
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
