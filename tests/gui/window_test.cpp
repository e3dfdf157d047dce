// The console's window over the real dialog: what it shows at start, every widget as its record
// in the control table says.
// Without --simulate every start shows the box "Can't open comport. init", closed as an operator would.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

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
}
