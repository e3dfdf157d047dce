// The window against the built-in simulated module, as `kalvor-tp --simulate` runs: the reader
// thread's chunks reach the dialog through the Qt host, the trace records both directions, the
// results file gets the dispense cycles. (What a status request shows is checked with the pictures.)
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "gui_support.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {
QString ReadAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromLatin1(file.readAll());
}
}  // namespace

TEST(WindowWithSimulator, DispenseCyclesAreTracedAndRecorded) {
    QTemporaryDir dir;
    AppOptions options;
    options.simulate = 1;
    options.trace = true;
    options.traceFile = dir.filePath(QStringLiteral("trace.txt")).toStdString();
    options.results = dir.filePath(QStringLiteral("results.csv")).toStdString();
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(c.dlg().PortOpen());
    EXPECT_TRUE(c.boxes.Seen().empty());
    EXPECT_TRUE(WaitFor([&] {  // the pane's view takes its text at the next turn of the event loop
        return c.as<QPlainTextEdit>(1003)->toPlainText().startsWith(QStringLiteral("Com Port 1 is opened"));
    }));
    EXPECT_EQ(c.table().Checked(1135), 1);  // the simulated ZEDA2000 is chosen at start
    c.ClickTab(1);
    c.Click(1026);
    c.Type(1028, "2");
    c.Type(1030, "2");
    c.Click(1020);
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1032) == "2" && c.dlg().IsIdle(); }, 60000));
    c.session->Close();
    const QString lines = ReadAll(QString::fromStdString(options.traceFile));
    EXPECT_EQ(lines.count(QStringLiteral(" TX 04 50 02 45 30 32 03 12")), 2) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral(" RX 06"))) << lines.toStdString();
    const QStringList rows = ReadAll(QString::fromStdString(options.results)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(rows.size(), 3) << "a header and one row per cycle";
}

TEST(WindowWithSimulator, ClosingWhileTheModuleTalksLeavesNoReader) {
    AppOptions options;
    options.simulate = 0;
    auto c = std::make_unique<Console>(options);
    ASSERT_TRUE(c->prepared) << c->prepareError;
    c->Click(1050);  // the status request, and the end before the answer is complete
    QTest::qWait(5);
    c.reset();
    EXPECT_TRUE(WaitFor([] { return CComm::RunningReaders() == 0; }));
}

TEST(WindowWithSimulator, UnwritableResultsFileStopsTheStart) {
    AppOptions options;
    options.simulate = 1;
    options.results = "/nonexistent/kalvor/results.csv";
    Console c(options);
    EXPECT_FALSE(c.prepared);
    EXPECT_EQ(c.prepareError, "cannot write the results file /nonexistent/kalvor/results.csv: No such file or directory");
}

TEST(WindowWithSimulator, CtrlTStartsAndStopsTheTrace) {
    QTemporaryDir dir;
    AppOptions options;
    options.simulate = 1;
    options.traceFile = dir.filePath(QStringLiteral("trace.txt")).toStdString();  // where Ctrl+T writes
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    for (int round = 0; round < 2; ++round) {  // traced, then not: the second Ctrl+T stops it
        QTest::keyClick(&c.window(), Qt::Key_T, Qt::ControlModifier);
        c.Click(1050);
        ASSERT_TRUE(WaitFor([&] { return c.dlg().IsIdle(); }));
    }
    const QString lines = ReadAll(QString::fromStdString(options.traceFile));
    EXPECT_EQ(lines.count(QStringLiteral(" TX 04 50 02 46 03 13 | command F STATUS, BCC good")), 1) << lines.toStdString();
    EXPECT_EQ(lines.count(QStringLiteral("answer F STATUS")), 1) << lines.toStdString();
}
