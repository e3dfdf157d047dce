// The pictures of the manual, made from the real window: every page, the "MENU" page after a
// dispense run and the "STATUS" page after a status request, both against the built-in simulated
// module. Each picture is also checked: the right size, not blank, and a page that a person can
// read (captions not cut off, nothing outside the window, nothing drawn over anything else).
//
// The pictures go to $KALVOR_PICTURES_DIR when it is set (scripts/make_pictures.sh sets it to
// docs/), otherwise to a temporary folder that is removed afterwards.
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui_support.h"
#include "layout_check.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

// Checks that the page is readable, then saves the window as it is and checks what was saved.
void CheckAndSave(Console& c, const char* file) {
    EXPECT_EQ(LayoutReport(c.window(), c.table()), "") << file;

    static QTemporaryDir temp;
    const QByteArray env = qgetenv("KALVOR_PICTURES_DIR");
    const QDir dir(env.isEmpty() ? temp.path() : QString::fromLocal8Bit(env));
    dir.mkpath(QStringLiteral("."));
    const QString path = dir.filePath(QString::fromLatin1(file));
    QApplication::processEvents();
    const QPixmap picture = c.window().grab();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.deviceIndependentSize().toSize(), c.window().ClientSize());
    ASSERT_TRUE(picture.save(path, "PNG")) << path.toStdString();
    // Not a blank image: a page has text and frames in more than two shades.
    const QImage image(path);
    ASSERT_FALSE(image.isNull());
    QSet<QRgb> shades;
    for (int y = 0; y < image.height() && shades.size() < 16; y += 3)
        for (int x = 0; x < image.width() && shades.size() < 16; x += 3) shades.insert(image.pixel(x, y));
    EXPECT_GE(shades.size(), 16) << file;
}

}  // namespace

TEST(Pictures, EveryPageIsReadable) {
    // The four everyday pages as a plain start shows them, then the two calibration pages with
    // --calibration.
    const char* files[6] = {"page-0-status.png", "page-1-menu.png", "page-2-setup.png",
                            "page-3-tp.png",     "page-4-set-environmant.png", "page-5-notes-init.png"};
    for (bool calibration : {false, true}) {
        AppOptions options;
        options.calibration = calibration;
        options.simulate = 1;
        Console c(options);
        ASSERT_TRUE(c.prepared) << c.prepareError;
        ASSERT_TRUE(WaitFor([&] { return c.window().isVisible(); }));
        ASSERT_EQ(c.window().TabBar()->count(), calibration ? 6 : 4);
        for (int page : calibration ? std::vector<int>{4, 5} : std::vector<int>{1, 2, 3, 0}) {
            SCOPED_TRACE(files[page]);
            c.ClickTab(page);
            ASSERT_EQ(c.dlg().CurrentPage(), page);
            CheckAndSave(c, files[page]);
        }
        EXPECT_TRUE(c.boxes.Seen().empty()) << c.boxes.Seen().front().text;
    }
}

TEST(Pictures, MenuAfterDispenseAndStatusAfterStatus) {
    AppOptions options;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(c.dlg().PortOpen());

    // A dispense run of three cycles of five notes from the upper cassette.
    c.ClickTab(1);
    c.Click(1026);
    ASSERT_EQ(c.table().Checked(1026), 1);
    c.Type(1028, "5");
    c.Type(1030, "3");
    c.Click(1020);
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1032) == "3" && c.dlg().IsIdle(); }, 60000))
        << "executed " << c.table().Text(1032);
    EXPECT_EQ(c.as<QLineEdit>(1032)->text(), QStringLiteral("3"));
    CheckAndSave(c, "window-after-dispense.png");

    // "STATUS" on the status page: the sensor boxes show what the module reports.
    c.ClickTab(0);
    const std::string before = c.table().Text(1004);
    c.Click(1050);
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1004).size() > before.size() && c.dlg().IsIdle(); }));
    EXPECT_EQ(c.table().Checked(1047), 1);  // "Upper Cassette"
    EXPECT_EQ(c.table().Checked(1046), 1);  // "Lower Cassette"
    CheckAndSave(c, "window-after-status.png");
    EXPECT_TRUE(c.boxes.Seen().empty()) << c.boxes.Seen().front().text;
}
