// The console's window over the real dialog: what it shows at start, how it follows the control
// table page by page, and how clicks, typing and tab changes reach the table and the handlers.
// Without --simulate every start shows the box "Can't open comport. init", closed as an operator would.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include "gui_support.h"
#include "ui/group_frame.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

QString Q(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

std::vector<std::string> TabTexts(QTabBar* bar) {
    std::vector<std::string> texts;
    for (int i = 0; i < bar->count(); ++i) texts.push_back(bar->tabText(i).toStdString());
    return texts;
}

// Every widget shows what its record in the table says.
void ExpectMirrors(Console& c, const std::string& where) {
    for (const Control& ctl : c.table().All()) {
        QWidget* w = c.widget(ctl.id);
        ASSERT_NE(w, nullptr) << ctl.id;
        SCOPED_TRACE(where + ", control " + std::to_string(ctl.id));
        EXPECT_EQ(w->isVisible(), ctl.visible);
        if (ctl.kind == ControlKind::TabStrip) continue;
        EXPECT_EQ(w->isEnabled(), ctl.enabled);
        EXPECT_EQ(w->geometry(), QRect(ctl.rect.x, ctl.rect.y, ctl.rect.w, ctl.rect.h));
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(b->text(), Q(ctl.text));
            if (ctl.kind != ControlKind::Button) {
                EXPECT_EQ(b->isChecked(), ctl.checked != 0);
            }
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(l->text(), Q(ctl.text));
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(e->text(), Q(ctl.text));
        } else if (auto* g = qobject_cast<GroupFrame*>(w)) {
            EXPECT_EQ(g->Title(), Q(ctl.text));
        }
    }
}

}  // namespace

TEST(WindowStart, CaptionTabsPanesTheFailedOpenAndTheFocus) {
    Console c;
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ConsoleWindow& w = c.window();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("KALVOR TP(V1.02)"));
    EXPECT_EQ(w.size(), QSize(480, 599));  // 274 x 333 dialog units
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "fixed size";
    EXPECT_FALSE(w.windowIcon().isNull());

    EXPECT_EQ(TabTexts(w.TabBar()), (std::vector<std::string>{"STATUS", "MENU", "SETUP", "TP"}));
    EXPECT_EQ(w.TabBar()->currentIndex(), 0);
    for (int id : {1003, 1004}) {
        auto* pane = c.as<QPlainTextEdit>(id);
        ASSERT_NE(pane, nullptr) << id;
        EXPECT_TRUE(pane->isVisible());
        EXPECT_FALSE(pane->isReadOnly());
    }
    EXPECT_EQ(c.as<QLabel>(kLabelMessage)->text(), QStringLiteral("Message"));
    EXPECT_EQ(c.as<QLabel>(kLabelStatus)->text(), QStringLiteral("Status"));
    EXPECT_TRUE(c.widget(1)->isVisible());
    EXPECT_TRUE(c.widget(1050)->isVisible());
    EXPECT_TRUE(c.as<QPushButton>(1050)->isDefault());

    // The box of the failed open came and was closed; the reason is in the Message pane.
    ASSERT_EQ(c.boxes.Seen().size(), 1u);
    EXPECT_EQ(c.boxes.Seen()[0].text, "Can't open comport. init");
    EXPECT_EQ(c.boxes.Seen()[0].caption, "Error");
    EXPECT_EQ(c.boxes.Seen()[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(c.dlg().PortOpen());
    const QString shown = c.as<QPlainTextEdit>(1003)->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("COM1 (/nonexistent/kalvor-gui-test-port)"))) << shown.toStdString();
    ExpectMirrors(c, "start");

    // The "STATUS" page takes the focus back when the window repaints (as when it is uncovered).
    QWidget* status = c.widget(1050);
    ASSERT_TRUE(WaitFor([&] { return c.window().focusWidget() == status; }));
    c.widget(1)->setFocus();
    ASSERT_EQ(c.window().focusWidget(), c.widget(1));
    c.window().repaint();
    EXPECT_TRUE(WaitFor([&] { return c.window().focusWidget() == status; }));
    // A control repainting itself is not a repaint of the dialog: the pane keeps the focus.
    c.widget(1003)->setFocus();
    c.widget(1003)->repaint();
    QTest::qWait(50);
    EXPECT_EQ(c.window().focusWidget(), c.widget(1003));
    // Other pages keep their own focus at repaint.
    c.ClickTab(1);
    EXPECT_EQ(c.window().focusWidget(), c.widget(1020));
    c.window().repaint();
    QTest::qWait(50);
    EXPECT_EQ(c.window().focusWidget(), c.widget(1020));
}

TEST(WindowPages, TabClicksAndArrowKeysSwitchPages) {
    AppOptions options;
    options.calibration = true;
    Console c(options);
    ASSERT_TRUE(c.prepared);
    EXPECT_EQ(TabTexts(c.window().TabBar()),
              (std::vector<std::string>{"STATUS", "MENU", "SETUP", "TP", "Set Environmant", "Notes Init"}));
    for (int page : {1, 2, 3, 4, 5, 0, 2, 1}) {
        c.ClickTab(page);
        ASSERT_EQ(c.dlg().CurrentPage(), page);
        ASSERT_EQ(c.table().TabSelection(), page);
        ExpectMirrors(c, "page " + std::to_string(page));
    }
    EXPECT_EQ(c.as<QPushButton>(1020)->text(), QStringLiteral("DISPENSE"));
    EXPECT_EQ(c.widget(1020)->geometry(), QRect(360, 50, 70, 25));

    // Arrow keys on the focused tab strip switch as clicks do.
    c.window().TabBar()->setFocus();
    QTest::keyClick(c.window().TabBar(), Qt::Key_Right);
    EXPECT_EQ(c.dlg().CurrentPage(), 2);
    EXPECT_EQ(c.as<QPushButton>(1020)->text(), QStringLiteral("OK"));
    EXPECT_EQ(c.widget(1020)->geometry(), QRect(365, 200, 65, 25));
    QTest::keyClick(c.window().TabBar(), Qt::Key_Left);
    EXPECT_EQ(c.dlg().CurrentPage(), 1);
    ExpectMirrors(c, "after the arrow keys");

    // Entering page 4 empties its edits; a click on its own tab must not enter it again.
    c.ClickTab(4);
    EXPECT_EQ(c.as<QLineEdit>(1083)->text(), QStringLiteral("30"));
    QTest::keyClicks(c.widget(1082), QStringLiteral("1F4"));
    c.ClickTab(4);
    EXPECT_EQ(c.table().Text(1082), "1F4");
    EXPECT_EQ(c.as<QLineEdit>(1082)->text(), QStringLiteral("1F4"));
}

TEST(WindowInput, TypingCheckBoxesRadiosAndTooltipsReachTheTable) {
    ::setenv("KALVOR_COM2", "/dev/ttyUSB7", 1);
    Console c;
    ASSERT_TRUE(c.prepared);
    c.ClickTab(1);
    c.Type(1028, "12");
    EXPECT_EQ(c.table().Text(1028), "12");
    EXPECT_TRUE(c.as<QLineEdit>(1028)->alignment() & Qt::AlignRight);
    c.ClickTab(2);
    c.ClickTab(1);
    EXPECT_EQ(c.as<QLineEdit>(1028)->text(), QStringLiteral("12"));
    EXPECT_EQ(c.table().Text(1028), "12");

    // The model radio enables the lower cassette's controls.
    for (int id : {1027, 1044, 1029}) EXPECT_FALSE(c.widget(id)->isEnabled()) << id;
    c.Click(1135);  // ZEDA2000
    for (int id : {1027, 1044, 1029}) EXPECT_TRUE(c.widget(id)->isEnabled()) << id;
    c.Click(1027);  // LOWER, now clickable
    EXPECT_EQ(c.table().Checked(1027), 1);
    c.Click(1027);
    EXPECT_EQ(c.table().Checked(1027), 0);

    c.ClickTab(2);
    c.Click(1008);  // COM3
    EXPECT_EQ(c.table().Checked(1008), 1);
    c.Click(1008);  // a second click leaves it set (a free-standing radio would clear itself)
    c.Click(1019);  // 38400: another group leaves COM3 alone
    for (auto [id, checked] : {std::pair{1006, 0}, {1008, 1}, {1017, 0}, {1019, 1}, {1134, 0}})
        EXPECT_EQ(c.table().Checked(id), checked) << id;
    ExpectMirrors(c, "after the clicks");  // and every widget shows what the table holds

    // Each COM radio's tooltip names its device, looked up again whenever the page is shown.
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(c.widget(1005 + n)->toolTip().toStdString(), c.dlg().Comm().ResolvePort(n)) << n;
    EXPECT_EQ(c.widget(1007)->toolTip(), QStringLiteral("/dev/ttyUSB7"));
    ::setenv("KALVOR_COM2", "/dev/ttyUSB9", 1);
    c.ClickTab(0);
    c.ClickTab(2);
    EXPECT_EQ(c.widget(1007)->toolTip(), QStringLiteral("/dev/ttyUSB9"));
    ::unsetenv("KALVOR_COM2");
}

TEST(WindowPanes, AppendsReplacementsTypingAndALongLog) {
    Console c;
    ASSERT_TRUE(c.prepared);
    auto* pane = c.as<QPlainTextEdit>(1004);
    struct Change {
        int at, removed, added;
    };
    std::vector<Change> changes;
    QObject::connect(pane->document(), &QTextDocument::contentsChange,
                     [&](int at, int removed, int added) { changes.push_back({at, removed, added}); });
    // Appends reach the document at the next turn of the event loop.
    c.dlg().AppendStatus("STATUS ERR : 00 SEN0 : 41 SEN1 : 02");
    QApplication::processEvents();
    const int lengthBefore = pane->document()->characterCount();
    c.dlg().AppendStatus("ROM VERSION : 2.07");
    QApplication::processEvents();
    ASSERT_FALSE(changes.empty());
    for (const Change& ch : changes) EXPECT_EQ(ch.removed, 0) << "the pane was rewritten, not appended to";
    EXPECT_EQ(changes.back().at, lengthBefore - 1);
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("STATUS ERR : 00 SEN0 : 41 SEN1 : 02\nROM VERSION : 2.07\n"));

    // Replaced text is shown whole; typed text keeps both kinds of line break and the next
    // append goes after it.
    c.table().SetText(1004, "a\r\nb\n\r");
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("a\nb\n"));
    pane->setFocus();
    pane->moveCursor(QTextCursor::End);
    QTest::keyClicks(pane, QStringLiteral("x"));
    EXPECT_EQ(c.table().Text(1004), "a\r\nb\n\rx");
    c.dlg().AppendStatus("two");
    QApplication::processEvents();
    EXPECT_EQ(c.table().Text(1004), "a\r\nb\n\rxtwo\n\r");
    EXPECT_EQ(pane->toPlainText(), QStringLiteral("a\nb\nxtwo\n"));

    // A long log stays scrolled to its end.
    c.table().SetText(1004, "");
    for (int i = 0; i < 200; ++i) c.dlg().AppendStatus("line " + std::to_string(i));
    QApplication::processEvents();
    QScrollBar* bar = pane->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(pane->document()->blockCount(), 201);
    EXPECT_EQ(pane->document()->findBlockByNumber(199).text(), QStringLiteral("line 199"));
}

TEST(WindowEnd, ExitButtonAndCloseBoxEndTheDialog) {
    for (bool exitButton : {true, false}) {
        SCOPED_TRACE(exitButton ? "EXIT" : "close box");
        Console c;
        ASSERT_TRUE(c.prepared);
        if (exitButton) {
            c.Click(1);
        } else {
            EXPECT_TRUE(c.window().close());
        }
        EXPECT_TRUE(c.dlg().Ended());
        EXPECT_TRUE(c.session->Host().Ended());
        EXPECT_FALSE(c.window().isVisible());
    }
}
