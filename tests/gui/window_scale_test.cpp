// The window's size: dialog units from the desktop's font, the layout at twice the size on every
// page, a window too big for its screen made to fit, and the layout check itself catching a
// control that crosses a group box's frame.
#include <QFont>
#include <QScreen>

#include <gtest/gtest.h>

#include <string>

#include "gui_support.h"
#include "layout_check.h"
#include "ui/group_frame.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

std::string Joined(const std::vector<std::string>& problems) {
    std::string all;
    for (const std::string& p : problems) all += "  " + p + "\n";
    return all;
}

// The application's font for the time of a test.
class AppFont {
public:
    explicit AppFont(const QFont& font) : m_saved(QApplication::font()) { QApplication::setFont(font); }
    ~AppFont() { QApplication::setFont(m_saved); }

private:
    QFont m_saved;
};

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
    EXPECT_EQ(c.window().font().pixelSize(), 20);
    for (int page : {0, 1, 2, 3, 4, 5}) {
        SCOPED_TRACE(page);
        c.ClickTab(page);
        ASSERT_EQ(c.dlg().CurrentPage(), page);
        QApplication::processEvents();
        EXPECT_EQ(Joined(LayoutProblems(c.window(), c.table())), "");
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

TEST(WindowScale, AWindowTooBigForItsScreenIsMadeToFit) {
    // A desktop font four times the usual would make the window about 1900 x 2400 pixels.
    AppFont big(DejaVu(48));
    Console c;
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(WaitFor([&] { return c.window().isVisible(); }));
    const QRect avail = c.window().screen()->availableGeometry();
    ASSERT_TRUE(WaitFor([&] { return avail.contains(c.window().frameGeometry()); }))
        << c.window().width() << "x" << c.window().height() << " on " << avail.width() << "x" << avail.height();
    EXPECT_GT(c.window().Scale().Y(), 0.5);
    c.ClickTab(1);
    EXPECT_EQ(Joined(LayoutProblems(c.window(), c.table())), "");
}

TEST(WindowScale, TheLayoutCheckSeesAControlOnAGroupFrame) {
    Console c;
    ASSERT_TRUE(c.prepared) << c.prepareError;
    c.ClickTab(2);  // "SETUP": three groups of radios
    ASSERT_EQ(Joined(LayoutProblems(c.window(), c.table())), "");
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
        const std::string found = Joined(LayoutProblems(c.window(), c.table()));
        EXPECT_NE(found.find(k.finding), std::string::npos) << found;
    }
    c.table().Move(1012, none);
    EXPECT_EQ(Joined(LayoutProblems(c.window(), c.table())), "");
}
