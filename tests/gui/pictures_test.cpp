// The pictures of the manual, made from the real window: every page, the "MENU" page after a
// dispense run and the "STATUS" page after a status request, both against the built-in simulated
// module. Each picture is also checked: the right size, and a page that a person can read
// (captions not cut off, nothing outside the window, nothing drawn over anything else).
//
// The pictures go to $KALVOR_PICTURES_DIR when it is set (scripts/make_pictures.sh sets it to
// docs/), otherwise to a temporary folder that is removed afterwards.
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QSet>
#include <QTabBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "gui_support.h"
#include "layout_check.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

class PictureFolder {
public:
    PictureFolder() {
        const QByteArray dir = qgetenv("KALVOR_PICTURES_DIR");
        m_path = dir.isEmpty() ? m_temp.path() : QString::fromLocal8Bit(dir);
        QDir().mkpath(m_path);
    }
    QString File(const char* name) const { return QDir(m_path).filePath(QString::fromLatin1(name)); }

private:
    QTemporaryDir m_temp;
    QString m_path;
};

// Saves the window as it is and checks what was saved.
void Save(ConsoleWindow& window, const QString& file) {
    QApplication::processEvents();
    const QPixmap picture = window.grab();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.deviceIndependentSize().toSize(), ConsoleWindow::ClientSize());
    ASSERT_TRUE(picture.save(file, "PNG")) << file.toStdString();
    // Not a blank image: a page has text and frames in more than two shades.
    const QImage image(file);
    ASSERT_FALSE(image.isNull());
    QSet<QRgb> shades;
    for (int y = 0; y < image.height() && shades.size() < 16; y += 3)
        for (int x = 0; x < image.width() && shades.size() < 16; x += 3) shades.insert(image.pixel(x, y));
    EXPECT_GE(shades.size(), 16) << file.toStdString();
}

// The pages' own pixel places (the "MENU" table, the move of "OK" on "SETUP", the calibration
// tables) meet controls at their template places; at the window's scale none of them may cover
// another.
void ExpectReadable(Console& c, const char* page, std::set<std::string> conflicts = {}) {
    std::string unexpected;
    for (const std::string& p : LayoutProblems(c.window(), c.table())) {
        if (conflicts.erase(p) == 0) unexpected += "  " + p + "\n";
    }
    EXPECT_TRUE(unexpected.empty()) << "page " << page << ":\n" << unexpected;
    for (const std::string& gone : conflicts) ADD_FAILURE() << "page " << page << ": no longer seen: " << gone;
}

void ClickTab(Console& c, int index) {
    QTabBar* bar = c.window().TabBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    ASSERT_EQ(c.dlg().CurrentPage(), index);
}

void Type(Console& c, int id, const char* text) {
    auto* edit = c.as<QLineEdit>(id);
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromLatin1(text));
}

}  // namespace

TEST(Pictures, EveryPageIsReadable) {
    PictureFolder folder;
    AppOptions options;
    options.calibration = true;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(WaitFor([&] { return c.window().isVisible(); }));

    const char* files[6] = {"page-0-status.png", "page-1-menu.png", "page-2-setup.png",
                            "page-3-tp.png",     "page-4-set-environmant.png", "page-5-notes-init.png"};
    for (int page : {1, 2, 3, 4, 5, 0}) {
        SCOPED_TRACE(files[page]);
        ClickTab(c, page);
        ExpectReadable(c, files[page]);
        Save(c.window(), folder.File(files[page]));
    }
    EXPECT_TRUE(c.boxes.Seen().empty()) << c.boxes.Texts().front();
}

TEST(Pictures, MenuAfterDispenseAndStatusAfterStatus) {
    PictureFolder folder;
    AppOptions options;
    options.simulate = 1;
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(c.dlg().PortOpen());

    // A dispense run of three cycles of five notes from the upper cassette.
    ClickTab(c, 1);
    QTest::mouseClick(c.widget(1026), Qt::LeftButton, Qt::NoModifier, QPoint(6, c.widget(1026)->height() / 2));
    ASSERT_EQ(c.table().Checked(1026), 1);
    Type(c, 1028, "5");
    Type(c, 1030, "3");
    QTest::mouseClick(c.widget(1020), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1032) == "3" && c.dlg().IsIdle(); }, 60000))
        << "executed " << c.table().Text(1032);
    EXPECT_EQ(c.as<QLineEdit>(1032)->text(), QStringLiteral("3"));
    ExpectReadable(c, "MENU after the run");
    Save(c.window(), folder.File("window-after-dispense.png"));

    // "STATUS" on the status page: the sensor boxes show what the module reports.
    ClickTab(c, 0);
    const std::string before = c.table().Text(1004);
    QTest::mouseClick(c.widget(1050), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return c.table().Text(1004).size() > before.size() && c.dlg().IsIdle(); }));
    EXPECT_EQ(c.table().Checked(1047), 1);  // "Upper Cassette"
    EXPECT_EQ(c.table().Checked(1046), 1);  // "Lower Cassette"
    ExpectReadable(c, "STATUS after STATUS");
    Save(c.window(), folder.File("window-after-status.png"));
    EXPECT_TRUE(c.boxes.Seen().empty()) << c.boxes.Texts().front();
}
