// The Qt host on its own: timers by id, boxes with their nested loop, posted messages and the
// reader thread's blocking hand-over.
#include <QMessageBox>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "gui_support.h"
#include "ui/qt_host.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

struct Recorder {
    std::vector<int> timers;
    std::vector<std::pair<unsigned, uintptr_t>> posts;
    void Attach(QtHost& host) {
        host.SetTimerHandler([this](int id) { timers.push_back(id); });
        host.SetPostHandler([this](unsigned m, uintptr_t w) { posts.emplace_back(m, w); });
    }
    int Count(int id) const { return static_cast<int>(std::count(timers.begin(), timers.end(), id)); }
};

}  // namespace

TEST(QtHostTimers, OneShotRestartAndKill) {
    QtHost host;
    Recorder rec;
    bool activeInHandler = true;
    host.SetTimerHandler([&](int id) {
        rec.timers.push_back(id);
        activeInHandler = host.TimerActive(id);
    });

    // Arming a running timer restarts it with the new time: a long one re-armed short fires.
    host.SetTimer(1, 600000);
    host.SetTimer(1, 10);
    ASSERT_TRUE(WaitFor([&] { return rec.Count(1) == 1; }));
    EXPECT_FALSE(activeInHandler) << "stopped before its handler runs";
    EXPECT_FALSE(host.TimerActive(1)) << "one-shot";

    // A killed timer never fires; another one armed later does.
    host.SetTimer(2, 10);
    host.KillTimer(2);
    host.SetTimer(3, 50);
    ASSERT_TRUE(WaitFor([&] { return rec.Count(3) == 1; }));
    QTest::qWait(50);
    EXPECT_EQ(rec.Count(2), 0);
    EXPECT_EQ(rec.Count(1), 1);

    // The handler may arm its own timer again.
    int rounds = 0;
    host.SetTimerHandler([&](int id) {
        if (++rounds < 3) host.SetTimer(id, 5);
    });
    host.SetTimer(4, 5);
    ASSERT_TRUE(WaitFor([&] { return rounds == 3; }));
}

TEST(QtHostTimers, EndDialogStopsTimersAndCallsTheEndHandler) {
    QtHost host;
    Recorder rec;
    rec.Attach(host);
    int ended = -1;
    host.SetEndHandler([&](int result) { ended = result; });
    host.SetTimer(1, 30);
    host.EndDialog(1);
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(host.Ended());
    EXPECT_FALSE(host.TimerActive(1));
}

TEST(QtHostClock, MonotonicAndLocalTime) {
    QtHost host;
    const int64_t a = host.MonotonicMs();
    QTest::qWait(20);
    const int64_t b = host.MonotonicMs();
    EXPECT_GE(b, a + 10);
    const LocalTime t = host.LocalNow();
    EXPECT_GE(t.hour, 0);
    EXPECT_LT(t.hour, 24);
    EXPECT_GE(t.minute, 0);
    EXPECT_LT(t.minute, 60);
    EXPECT_GE(t.second, 0);
    EXPECT_LT(t.second, 61);
}

TEST(QtHostPost, RunsLaterOnTheUiThreadInOrder) {
    QtHost host;
    Recorder rec;
    rec.Attach(host);
    host.PostMessage(0x403, 7);
    host.PostMessage(0x403, 9);
    EXPECT_TRUE(rec.posts.empty()) << "posting must not run the handler at once";
    ASSERT_TRUE(WaitFor([&] { return rec.posts.size() == 2; }));
    EXPECT_EQ(rec.posts[0], std::make_pair(0x403u, uintptr_t{7}));
    EXPECT_EQ(rec.posts[1], std::make_pair(0x403u, uintptr_t{9}));
}

TEST(QtHostHandOver, ReaderWaitsUntilTheUiThreadRanTheWork) {
    QtHost host;
    QThread* ui = QThread::currentThread();
    std::atomic<int> ranOnUi{0};
    std::atomic<int> returned{0};
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
    std::atomic<bool> posted{false};
    std::atomic<bool> back{false};
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
    host.reset();
}

TEST(QtHostBoxes, CaptionTextAndIcon) {
    QtHost host;
    BoxCloser closer;
    host.MessageBox("Can't open comport. init", "Error", BoxIcon::Stop);
    host.MessageBox("Communication port lost", "comm Error!", BoxIcon::Exclamation);
    ASSERT_EQ(closer.Seen().size(), 2u);
    EXPECT_EQ(closer.Seen()[0].caption, "Error");
    EXPECT_EQ(closer.Seen()[0].text, "Can't open comport. init");
    EXPECT_EQ(closer.Seen()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(closer.Seen()[1].caption, "comm Error!");
    EXPECT_EQ(closer.Seen()[1].icon, QMessageBox::Warning);
}

TEST(QtHostBoxes, BoxOpenedFromATimerDoesNotStopTheLoop) {
    // A box opened by a timer's handler stays open until everything else has been served: another
    // timer, a posted message and a hand-over from a reader thread. The box's own loop must
    // serve them; the handler that opened it only continues once the box is closed.
    QtHost host;
    std::vector<std::string> order;
    std::atomic<bool> handedOver{false};
    bool posted = false;
    host.SetPostHandler([&](unsigned, uintptr_t) {
        posted = true;
        order.push_back("posted");
    });
    host.SetTimerHandler([&](int id) {
        if (id == 1) {
            host.SetTimer(2, 20);
            host.PostMessage(0x403, 1);
            order.push_back("box opened");
            host.MessageBox("ERROR CODE", "ERROR CODE", BoxIcon::Stop);
            order.push_back("box closed");
        } else if (id == 2) {
            order.push_back("timer 2");
        }
    });
    BoxCloser closer;
    std::thread reader;
    closer.HoldWhile([&] {
        if (!reader.joinable())
            reader = std::thread([&] { host.HandOver([&] { handedOver = true; }); });
        const bool timer2 = std::find(order.begin(), order.end(), "timer 2") != order.end();
        return !(timer2 && posted && handedOver.load());
    });
    host.SetTimer(1, 5);
    ASSERT_TRUE(WaitFor([&] { return !order.empty() && order.back() == "box closed"; }));
    reader.join();
    ASSERT_EQ(closer.Seen().size(), 1u);
    EXPECT_EQ(order.front(), "box opened");
    EXPECT_EQ(order.back(), "box closed");
    EXPECT_EQ(order.size(), 4u);  // timer 2 and the posted message ran while the box was open
    EXPECT_TRUE(handedOver.load());
}
