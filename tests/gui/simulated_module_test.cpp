// The window against the built-in simulated module, as `kalvor-tp --simulate` runs: the reader
// thread's chunks reach the dialog through the Qt host, the trace records both directions, the
// results file gets the dispense cycles.
#include <QCheckBox>
#include <QFile>
#include <QTabBar>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "gui_support.h"

using namespace kalvor;
using namespace kalvor::guitest;

TEST(WindowWithSimulator, StatusRequestTicksTheSensorsAndIsTraced) {
    QTemporaryDir dir;
    AppOptions options;
    options.simulate = 1;
    options.trace = true;
    options.traceFile = dir.filePath(QStringLiteral("trace.txt")).toStdString();
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(c.dlg().PortOpen());
    EXPECT_TRUE(c.boxes.Seen().empty());
    EXPECT_TRUE(c.as<QPlainTextEdit>(1003)->toPlainText().startsWith(QStringLiteral("Com Port 1 is opened")));
    // The simulated ZEDA2000 is chosen at start.
    EXPECT_EQ(c.table().Checked(1135), 1);

    QTest::mouseClick(c.widget(1050), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !c.table().Text(1004).empty() && c.dlg().IsIdle(); }));
    EXPECT_TRUE(c.as<QPlainTextEdit>(1004)->toPlainText().startsWith(QStringLiteral("STATUS ERR : 00")))
        << c.table().Text(1004);
    // Both cassettes are in.
    for (int id : {1046, 1047}) {
        EXPECT_EQ(c.table().Checked(id), 1) << id;
        EXPECT_TRUE(c.as<QCheckBox>(id)->isChecked()) << id;
    }

    c.session->Close();
    QFile trace(dir.filePath(QStringLiteral("trace.txt")));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    const QString lines = QString::fromLatin1(trace.readAll());
    EXPECT_TRUE(lines.contains(QStringLiteral(" TX 04 50 02 46 03 13"))) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral(" RX 06"))) << lines.toStdString();
}

TEST(WindowWithSimulator, ClosingWhileTheModuleTalksLeavesNoReader) {
    AppOptions options;
    options.simulate = 0;
    auto c = std::make_unique<Console>(options);
    ASSERT_TRUE(c->prepared) << c->prepareError;
    // Ask for the status and end the console before the answer is complete.
    QTest::mouseClick(c->widget(1050), Qt::LeftButton);
    QTest::qWait(5);
    c.reset();
    EXPECT_TRUE(WaitFor([] { return CComm::RunningReaders() == 0; }));
}

TEST(WindowWithSimulator, DispenseCyclesGoToTheResultsFile) {
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("results.csv"));
    AppOptions options;
    options.simulate = 1;
    options.results = csv.toStdString();
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;

    QTabBar* bar = c.window().TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(1).center());
    QTest::mouseClick(c.widget(1026), Qt::LeftButton, Qt::NoModifier, QPoint(6, c.widget(1026)->height() / 2));
    for (auto [id, text] : {std::pair{1028, "2"}, std::pair{1030, "2"}}) {
        auto* edit = c.as<QLineEdit>(id);
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(text));
    }
    QTest::mouseClick(c.widget(1020), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1032) == "2" && c.dlg().IsIdle(); }, 60000));
    c.session->Close();

    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(rows.size(), 3) << "a header and one row per cycle";
}

TEST(WindowWithSimulator, UnwritableResultsFileStopsTheStart) {
    AppOptions options;
    options.simulate = 1;
    options.results = "/nonexistent/kalvor/results.csv";
    Console c(options);
    EXPECT_FALSE(c.prepared);
    EXPECT_EQ(c.prepareError, "cannot write the results file /nonexistent/kalvor/results.csv");
}

TEST(WindowWithSimulator, CtrlTStartsAndStopsTheTrace) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    AppOptions options;
    options.simulate = 1;
    options.traceFile = path.toStdString();  // where Ctrl+T writes; the trace starts off
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;

    auto statusExchange = [&] {
        QTest::mouseClick(c.widget(1050), Qt::LeftButton);
        return WaitFor([&] { return c.dlg().IsIdle(); });
    };
    QTest::keyClick(&c.window(), Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(statusExchange());
    QTest::keyClick(&c.window(), Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(statusExchange());  // not traced: the trace is off again

    QFile trace(path);
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    const QString lines = QString::fromLatin1(trace.readAll());
    EXPECT_EQ(lines.count(QStringLiteral(" TX 04 50 02 46 03 13 | command F STATUS, BCC good")), 1) << lines.toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("answer F STATUS")), 1) << lines.toStdString();
}
