// The live run chart of a real window's run.
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
