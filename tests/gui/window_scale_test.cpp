// The window's size: dialog units from the desktop's font, the layout at twice the size on every
// page, every page readable on every screen size and scale factor, and the layout check itself
// catching a control that crosses a group box's frame.
#include <QFont>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui_support.h"
#include "layout_check.h"
#include "ui/group_frame.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

QFont DejaVu(int pixels) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    return f;
}

}  // namespace

TEST(WindowScale, DialogUnitsFollowTheFont) {
    struct Case {
        int pixels;
        double x, y;  // expected factors, to 0.08
    };
    // DejaVu Sans at 12 px is 7 px wide on average and 14 px high: the table's own scale.
    const Case cases[] = {{12, 1.0, 1.0}, {18, 1.57, 1.5}, {24, 2.14, 2.0}, {9, 0.86, 0.79}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.pixels);
        const DialogScale s = DialogScale::FromFont(DejaVu(k.pixels));
        EXPECT_NEAR(s.X(), k.x, 0.08);
        EXPECT_NEAR(s.Y(), k.y, 0.08);
        // The controls' font grows with the smaller factor.
        EXPECT_NEAR(s.ControlFont().pixelSize(), 10 * std::min(s.X(), s.Y()), 1.0);
    }
    // Edges are scaled, not sizes: controls that meet in the table still meet.
    const DialogScale odd(1.5, 1.25);
    const QRect left = odd.Map({7, 9, 11, 5}), right = odd.Map({18, 14, 3, 3});
    EXPECT_EQ(left.right() + 1, right.left());
    EXPECT_EQ(left.bottom() + 1, right.top());
    EXPECT_EQ(odd.Client(274, 333), QSize(720, 749));
}

TEST(WindowScale, EveryPageAtTwiceTheSize) {
    AppOptions options;
    options.calibration = true;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(WaitFor([&] { return c.window().isVisible(); }));
    QApplication::processEvents();
    c.window().SetScale(DialogScale(2, 2));
    EXPECT_EQ(c.window().size(), QSize(960, 1198));
    EXPECT_EQ(c.window().Canvas()->font().pixelSize(), 20);
    for (int page : {0, 1, 2, 3, 4, 5}) {
        SCOPED_TRACE(page);
        c.ClickTab(page);
        ASSERT_EQ(c.dlg().CurrentPage(), page);
        QApplication::processEvents();
        EXPECT_EQ(LayoutReport(c.window(), c.table()), "");
        // Every control where its table rectangle says, at twice the size.
        for (const Control& k : c.table().All()) {
            if (k.kind == ControlKind::TabStrip || !k.visible) continue;
            EXPECT_EQ(c.widget(k.id)->geometry(), QRect(2 * k.rect.x, 2 * k.rect.y, 2 * k.rect.w, 2 * k.rect.h)) << k.id;
        }
    }
    // No maximize button on the fixed-size dialog.
    EXPECT_FALSE(c.window().windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(c.window().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(c.window().minimumSize(), c.window().maximumSize());
}

TEST(WindowScale, EveryPageOnEveryScreenAtEveryScaleFactor) {
    // Each of the test screens at the usual desktop font, then a desktop font four times the
    // usual (a window of about 1900 x 2400 wanted) on 800 x 600: the window fits the screen's
    // available area, shrunk as one no further than it must, and every page reads whole. On the
    // screen too small for that the window keeps the readable least and scrolls.
    struct Restore {
        QFont font;
        ~Restore() { QApplication::setFont(font); }
    } restore{QApplication::font()};
    AppOptions options;
    options.calibration = true;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(WaitFor([&] { return c.window().isVisible(); }));
    struct Case {
        std::string screen;
        int fontPixels;
        bool scrolls;
    };
    std::vector<Case> cases;
    for (const TestScreen& s : TestScreens()) cases.push_back({s.Name(), 12, s.width < 800});
    cases.push_back({"800x600@1", 48, false});
    for (const Case& k : cases) {
        SCOPED_TRACE(k.screen + ", desktop font " + std::to_string(k.fontPixels) + " px");
        QScreen* screen = nullptr;
        for (QScreen* s : QGuiApplication::screens())
            if (s->name() == QString::fromStdString(k.screen)) screen = s;
        ASSERT_NE(screen, nullptr) << "run under QT_QPA_PLATFORM=offscreen: the test screens are the offscreen desktop's";
        QApplication::setFont(DejaVu(k.fontPixels));
        // Moved there as a window manager moves it.
        c.window().windowHandle()->setScreen(screen);
        c.window().move(screen->availableGeometry().topLeft());
        ASSERT_TRUE(WaitFor([&] { return c.window().screen() == screen; }));
        c.window().FitToScreen();
        QApplication::processEvents();

        const QRect avail = screen->availableGeometry();
        EXPECT_TRUE(avail.contains(c.window().frameGeometry()));
        EXPECT_EQ(c.window().Scrolls(), k.scrolls);
        const DialogScale wanted = DialogScale::FromFont(DejaVu(k.fontPixels));
        const double factor = c.window().Scale().Factor();
        const QSize client = c.window().ClientSize();
        if (k.scrolls)
            EXPECT_NEAR(factor * screen->devicePixelRatio(), DialogScale::kReadable, 0.01);
        else if (factor < wanted.Factor() - 1e-9)  // shrunk: as large as fits, one side filling the room
            EXPECT_GT(std::max(1.0 * client.width() / avail.width(), 1.0 * client.height() / avail.height()), 0.97);
        else
            EXPECT_EQ(client, wanted.Client(ConsoleWindow::kDialogWidthDu, ConsoleWindow::kDialogHeightDu));
        for (int page : {0, 1, 2, 3, 4, 5}) {
            SCOPED_TRACE(page);
            c.ClickTab(page);
            ASSERT_EQ(c.dlg().CurrentPage(), page);
            QApplication::processEvents();
            EXPECT_EQ(LayoutReport(c.window(), c.table()), "");
        }
    }
}

TEST(WindowScale, TheLayoutCheckSeesAControlOnAGroupFrame) {
    Console c;
    ASSERT_TRUE(c.prepared) << c.prepareError;
    c.ClickTab(2);  // "SETUP": three groups of radios
    ASSERT_EQ(LayoutReport(c.window(), c.table()), "");
    auto* parity = qobject_cast<GroupFrame*>(c.widget(1011));
    ASSERT_NE(parity, nullptr);
    const Rect none = c.table().Find(1012)->rect;
    struct Case {
        Rect moved;
        const char* finding;
    };
    const QRect frame = parity->FrameRect().translated(parity->pos());
    const QRect title = parity->TitleRect().translated(parity->pos());
    const Case cases[] = {
        {{none.x, frame.bottom() - none.h / 2, none.w, none.h}, "1012 \"None\" crosses the frame of 1011 \"Parity\""},
        {{frame.left() - 4, none.y, none.w, none.h}, "1012 \"None\" crosses the frame of 1011 \"Parity\""},
        {{title.left(), title.top() + 2, none.w, none.h}, "1012 \"None\" crosses the title of 1011 \"Parity\""},
    };
    for (const Case& k : cases) {
        c.table().Move(1012, k.moved);
        const std::string found = LayoutReport(c.window(), c.table());
        EXPECT_NE(found.find(k.finding), std::string::npos) << found;
    }
    c.table().Move(1012, none);
    EXPECT_EQ(LayoutReport(c.window(), c.table()), "");
}
