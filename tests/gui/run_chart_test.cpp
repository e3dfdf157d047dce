// The live run chart fed with a run's events directly: the answer time per cycle, the resent and
// failed cycles, the running reject rate, the axes growing with the run, a new run starting
// afresh; then the chart of a real window's run.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineSeries>
#include <QPixmap>
#include <QScatterSeries>
#include <QSet>
#include <QTemporaryDir>
#include <QValueAxis>

#include <gtest/gtest.h>

#include "gui_support.h"
#include "ui/run_chart_window.h"

using namespace kalvor;

namespace {

struct Cycle {
    double answerMs;  // < 0: the cycle failed
    int dispensed, rejected;
    bool resent;
};

void Feed(RunChartWindow& chart, int64_t& us, unsigned index, const Cycle& c) {
    CycleRequest request;
    request.command = 'V';
    request.index = index;
    chart.OnCycleWritten({us, 0}, request);
    if (c.resent) chart.OnLinkEvent({us + 1000, 0}, LinkEvent::Resent);
    us += static_cast<int64_t>((c.answerMs < 0 ? 2000 : c.answerMs) * 1000);
    if (c.answerMs < 0) {
        chart.OnCycleFailed({us, 0}, CycleEnd::NoAnswer);
    } else {
        CycleAnswer answer;
        answer.dispensed = c.dispensed;
        answer.rejected = c.rejected;
        chart.OnCycleAnswered({us, 0}, answer);
    }
    us += 500000;
}

}  // namespace

TEST(RunChart, FollowsTheRunCycleByCycle) {
    RunChartWindow chart;
    chart.resize(760, 440);
    chart.show();
    EXPECT_TRUE(chart.Status().startsWith("No dispense run yet"));

    int64_t us = 5000000;
    chart.OnRunStarted({us, 0}, 40);
    const Cycle cycles[] = {
        {812.5, 5, 0, false}, {820.0, 5, 1, false}, {1650.25, 5, 0, true}, {-1, 0, 0, false}, {815.0, 4, 1, false},
    };
    for (unsigned i = 0; i < 5; ++i) Feed(chart, us, i + 1, cycles[i]);
    // An answer outside a cycle (a STATUS between runs) draws nothing.
    chart.OnCycleAnswered({us, 0}, CycleAnswer{});

    ASSERT_EQ(chart.AnswerSeries()->count(), 4);
    const struct { int point; double cycle, ms, rate; } want[] = {
        {0, 1, 812.5, 0.0}, {1, 2, 820.0, 100.0 / 11}, {2, 3, 1650.25, 100.0 / 16}, {3, 5, 815.0, 200.0 / 21},
    };
    for (const auto& w : want) {
        EXPECT_DOUBLE_EQ(chart.AnswerSeries()->at(w.point).x(), w.cycle);
        EXPECT_NEAR(chart.AnswerSeries()->at(w.point).y(), w.ms, 1e-6);
        EXPECT_NEAR(chart.RejectRateSeries()->at(w.point).y(), w.rate, 1e-9);
    }
    ASSERT_EQ(chart.ResentSeries()->count(), 1);
    EXPECT_EQ(chart.ResentSeries()->at(0), QPointF(3, 1650.25));
    ASSERT_EQ(chart.FailedSeries()->count(), 1);
    EXPECT_EQ(chart.FailedSeries()->at(0).x(), 4);
    // The answer axis covers the slowest answer, and the failure mark sits at its top.
    EXPECT_GE(chart.AnswerAxis()->max(), 1650.25);
    EXPECT_EQ(chart.FailedSeries()->at(0).y(), chart.AnswerAxis()->max());
    EXPECT_EQ(chart.CycleAxis()->max(), 40);
    EXPECT_EQ(chart.CycleAxis()->tickInterval(), 5);
    EXPECT_EQ(chart.Status(), "Run 1: 5 of 40 cycles, dispensed 19, rejected 2, reject rate 9.52 %, last answer 815.0 ms, 1 failed");

    // A much slower answer grows the axis and moves the failure mark up with it.
    Feed(chart, us, 6, {4200.0, 5, 0, false});
    EXPECT_GE(chart.AnswerAxis()->max(), 4200.0);
    EXPECT_EQ(chart.FailedSeries()->at(0).y(), chart.AnswerAxis()->max());

    chart.OnRunEnded({us, 0}, RunEnd::Cancelled);
    EXPECT_TRUE(chart.Status().endsWith("(ended: cancelled)")) << chart.Status().toStdString();

    // A second, longer run starts afresh.
    chart.OnRunStarted({us, 0}, 3);
    EXPECT_EQ(chart.AnswerSeries()->count(), 0);
    EXPECT_EQ(chart.FailedSeries()->count(), 0);
    for (unsigned i = 1; i <= 14; ++i) Feed(chart, us, i, {800.0 + 10 * (i % 5), 5, i % 7 == 0, i % 6 == 0});
    EXPECT_EQ(chart.AnswerSeries()->count(), 14);
    EXPECT_GE(chart.CycleAxis()->max(), 14);
    EXPECT_LT(chart.AnswerAxis()->max(), 2000);
    EXPECT_TRUE(chart.Status().startsWith("Run 2: 14 of 3 cycles, dispensed 70, rejected 2")) << chart.Status().toStdString();

    QApplication::processEvents();
    const QPixmap picture = chart.grab();
    ASSERT_FALSE(picture.isNull());
    QTemporaryDir temp;
    ASSERT_TRUE(picture.save(temp.filePath(QStringLiteral("run-chart.png")), "PNG"));
    // Drawn: more than a few shades (axes, lines, markers, text).
    const QImage image(temp.filePath(QStringLiteral("run-chart.png")));
    QSet<QRgb> shades;
    for (int y = 0; y < image.height() && shades.size() < 32; y += 2)
        for (int x = 0; x < image.width() && shades.size() < 32; x += 2) shades.insert(image.pixel(x, y));
    EXPECT_GE(shades.size(), 32);
}

// The chart of the console's own window: Ctrl+G opens it beside a dispense run on the built-in
// simulated module and it follows the run's cycles as they end; behind the console, Ctrl+G there
// brings it to the front, and the menu says so; Ctrl+G in the chart hides it. With
// $KALVOR_PICTURES_DIR set, a longer run is drawn into docs/run-chart.png.
TEST(RunChart, CtrlGOpensTheChartOfTheWindowsRun) {
    AppOptions options;
    options.simulate = 1;
    kalvor::guitest::Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    const bool picture = !qgetenv("KALVOR_PICTURES_DIR").isEmpty();
    const int cycles = picture ? 40 : 6;
    RunChartWindow& chart = c.session->RunChart();
    EXPECT_FALSE(chart.isVisible());
    c.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&c.window()));
    QTest::keyClick(&c.window(), Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(kalvor::guitest::WaitFor([&] { return chart.isVisible(); }));

    c.ClickTab(1);
    c.Click(1026);
    c.Type(1028, "4");
    c.Type(1030, std::to_string(cycles).c_str());
    c.Click(1020);
    ASSERT_TRUE(kalvor::guitest::WaitFor([&] { return chart.AnswerSeries()->count() == cycles; }, 120000))
        << chart.Status().toStdString();
    ASSERT_TRUE(kalvor::guitest::WaitFor([&] { return chart.Status().contains("ended"); }));
    EXPECT_TRUE(chart.Status().startsWith(QStringLiteral("Run 1: %1 of %1 cycles, dispensed ").arg(cycles)))
        << chart.Status().toStdString();
    EXPECT_EQ(chart.RejectRateSeries()->count(), cycles);
    for (const QPointF& p : chart.AnswerSeries()->points()) EXPECT_GT(p.y(), 100);  // 4 notes take time
    if (picture) {
        chart.resize(760, 440);
        QApplication::processEvents();
        const QDir dir(QString::fromLocal8Bit(qgetenv("KALVOR_PICTURES_DIR")));
        ASSERT_TRUE(chart.grab().save(dir.filePath(QStringLiteral("run-chart.png")), "PNG"));
    }
    // Behind the console (the console active, the two overlapping): Ctrl+G brings it to the
    // front instead of hiding it, and the menu says "Show" before and "Hide" after.
    chart.move(c.window().pos());
    c.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&c.window()));
    EXPECT_EQ(chart.ToggleText(&c.window()), QStringLiteral("Show run chart"));
    QTest::keyClick(&c.window(), Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&chart));
    EXPECT_TRUE(chart.isVisible());
    EXPECT_EQ(chart.ToggleText(&c.window()), QStringLiteral("Hide run chart"));
    // Ctrl+G in the chart's own window hides it.
    QTest::keyClick(&chart, Qt::Key_G, Qt::ControlModifier);
    EXPECT_TRUE(kalvor::guitest::WaitFor([&] { return !chart.isVisible(); }));
}
