// The Qt host on its own: timers by id, boxes with their nested loop, posted messages and the
// reader thread's blocking hand-over.
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "gui_support.h"
#include "ui/qt_host.h"

using namespace kalvor;
using namespace kalvor::guitest;

TEST(QtHostTimers, OneShotRestartKillPostEndAndTheClocks) {
    QtHost host;
    const int64_t startMs = host.MonotonicMs();
    std::vector<int> fired;
    auto count = [&](int id) { return std::count(fired.begin(), fired.end(), id); };
    bool activeInHandler = true;
    host.SetTimerHandler([&](int id) {
        fired.push_back(id);
        activeInHandler = host.TimerActive(id);
    });
    // Arming a running timer restarts it with the new time: a long one re-armed short fires.
    host.SetTimer(1, 600000);
    host.SetTimer(1, 10);
    ASSERT_TRUE(WaitFor([&] { return count(1) == 1; }));
    EXPECT_FALSE(activeInHandler) << "stopped before its handler runs";
    EXPECT_FALSE(host.TimerActive(1)) << "one-shot";
    // A killed timer never fires; another one armed later does.
    host.SetTimer(2, 10);
    host.KillTimer(2);
    host.SetTimer(3, 50);
    ASSERT_TRUE(WaitFor([&] { return count(3) == 1; }));
    QTest::qWait(50);
    EXPECT_EQ(count(2), 0);
    EXPECT_EQ(count(1), 1);
    // The handler may arm its own timer again.
    int rounds = 0;
    host.SetTimerHandler([&](int id) {
        if (++rounds < 3) host.SetTimer(id, 5);
    });
    host.SetTimer(4, 5);
    ASSERT_TRUE(WaitFor([&] { return rounds == 3; }));

    // Posted messages run later, on the UI thread, in order.
    std::vector<std::pair<unsigned, uintptr_t>> posts;
    host.SetPostHandler([&](unsigned m, uintptr_t w) { posts.emplace_back(m, w); });
    host.PostMessage(0x403, 7);
    host.PostMessage(0x403, 9);
    EXPECT_TRUE(posts.empty()) << "posting must not run the handler at once";
    ASSERT_TRUE(WaitFor([&] { return posts.size() == 2; }));
    EXPECT_EQ(posts, (std::vector<std::pair<unsigned, uintptr_t>>{{0x403u, 7}, {0x403u, 9}}));

    // EndDialog stops the timers and calls the end handler.
    int ended = -1;
    host.SetEndHandler([&](int result) { ended = result; });
    host.SetTimer(1, 30);
    host.EndDialog(1);
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(host.Ended());
    EXPECT_FALSE(host.TimerActive(1));

    EXPECT_GE(host.MonotonicMs(), startMs + 50);  // the 50 ms timer above has run meanwhile
    const LocalTime t = host.LocalNow();
    EXPECT_TRUE(t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 61)
        << t.hour << ":" << t.minute << ":" << t.second;
}

TEST(QtHostHandOver, ReaderWaitsUntilTheUiThreadRanTheWork) {
    QtHost host;
    QThread* ui = QThread::currentThread();
    std::atomic<int> ranOnUi{0}, returned{0};
    std::atomic<bool> workDoneBeforeReturn{true};
    std::thread reader([&] {
        for (int i = 0; i < 20; ++i) {
            bool done = false;
            host.HandOver([&] {
                if (QThread::currentThread() == ui) ++ranOnUi;
                done = true;
            });
            if (!done) workDoneBeforeReturn = false;
            ++returned;
        }
    });
    ASSERT_TRUE(WaitFor([&] { return returned.load() == 20; }));
    reader.join();
    EXPECT_EQ(ranOnUi.load(), 20);
    EXPECT_TRUE(workDoneBeforeReturn.load());

    // On the UI thread itself the work runs at once (a blocking queued call would deadlock).
    bool direct = false;
    host.HandOver([&] { direct = true; });
    EXPECT_TRUE(direct);
}

TEST(QtHostHandOver, ShutdownReleasesWaitingReadersAndRefusesNewOnes) {
    auto host = std::make_unique<QtHost>();
    std::atomic<bool> posted{false}, back{false};
    std::thread reader([&] {
        posted = true;
        host->HandOver([] {});  // the UI thread does not serve it until Shutdown
        back = true;
    });
    while (!posted.load()) std::this_thread::yield();
    QThread::msleep(20);  // let the reader reach its blocking call; Shutdown copes either way
    host->Shutdown();
    reader.join();
    EXPECT_TRUE(back.load());
    bool ran = false;
    std::thread late([&] { host->HandOver([&] { ran = true; }); });
    late.join();  // returns at once, without the work
    EXPECT_FALSE(ran);
}

// Boxes show caption, text and icon, and are wide enough for the caption in a bold title with the
// title bar's icon and buttons (a short text must not make the caption "ERR...ODE"). A box opened by a timer's handler stays open until another
// timer, a posted message and a hand-over from a reader thread have been served by the box's own
// loop; the handler that opened it continues only once the box is closed.
TEST(QtHostBoxes, CaptionTextIconAndABoxFromATimerDoesNotStopTheLoop) {
    QtHost host;
    std::vector<std::string> order;
    std::atomic<bool> handedOver{false};
    host.SetPostHandler([&](unsigned, uintptr_t) { order.push_back("posted"); });
    host.SetTimerHandler([&](int id) {
        if (id == 2) return order.push_back("timer 2");
        host.SetTimer(2, 20);
        host.PostMessage(0x403, 1);
        order.push_back("box opened");
        host.MessageBox("ERROR CODE", "ERROR CODE", BoxIcon::Stop);
        order.push_back("box closed");
    });
    BoxCloser closer;
    std::thread reader;
    closer.keepOpen = [&] {
        if (!reader.joinable()) reader = std::thread([&] { host.HandOver([&] { handedOver = true; }); });
        return order.size() < 3 || !handedOver.load();  // "box opened", "timer 2" and "posted"
    };
    host.SetTimer(1, 5);
    ASSERT_TRUE(WaitFor([&] { return !order.empty() && order.back() == "box closed"; }));
    reader.join();
    ASSERT_EQ(closer.Seen().size(), 1u);
    EXPECT_EQ(order.front(), "box opened");
    EXPECT_EQ(order.size(), 4u);  // timer 2 and the posted message ran while the box was open

    closer.keepOpen = nullptr;
    host.MessageBox("Communication port lost", "comm Error!", BoxIcon::Exclamation);
    ASSERT_EQ(closer.Seen().size(), 2u);
    EXPECT_EQ(closer.Seen()[1].caption, "comm Error!");
    EXPECT_EQ(closer.Seen()[1].text, "Communication port lost");
    EXPECT_EQ(closer.Seen()[1].icon, QMessageBox::Warning);
    EXPECT_EQ(closer.Seen()[0].icon, QMessageBox::Critical);  // the stop icon of the first box
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    for (const SeenBox& box : closer.Seen())
        EXPECT_GE(box.width, fm.horizontalAdvance(QString::fromStdString(box.caption)) + 5 * fm.height()) << box.caption;
}
