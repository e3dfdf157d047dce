// The window against the built-in simulated module, as `kalvor-tp --simulate` runs: no reader is
// left when the window ends mid-exchange, and Ctrl+T starts and stops the trace. (What a status
// request and a dispense run show is checked with the pictures.)
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
