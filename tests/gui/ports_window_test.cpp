// The window with --port: the SETUP tooltips show the mapping, the profile keeps its port, and a
// port that is pulled and comes back under the same name is opened again (while the box about
// the loss may still be open).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPlainTextEdit>

#include <filesystem>
#include <utility>

#include "gui_support.h"

using namespace kalvor;
using namespace kalvor::guitest;

namespace {

// An adapter under a stable name: a pseudo-terminal's master, and a symbolic link to its slave.
struct Adapter {
    int master = -1;
    void Plug(const std::string& link) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(ptsname(master), link.c_str()), 0);
    }
    void Pull(const std::string& link) {
        ::unlink(link.c_str());
        if (master >= 0) ::close(std::exchange(master, -1));
    }
    ~Adapter() {
        if (master >= 0) ::close(master);
    }
};

}  // namespace

TEST(WindowPorts, PortOptionInTheTooltipsAndAPulledAdapterComesBack) {
    char dir[] = "/tmp/kalvor-gui-ports-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string link = std::string(dir) + "/usb-adapter";
    Adapter adapter;
    adapter.Plug(link);

    BoxCloser closer;
    AppOptions options;
    options.ports = {{3, link}};
    Console c(options);
    ASSERT_TRUE(c.prepared) << c.prepareError;
    ASSERT_TRUE(WaitFor([&] { return c.dlg().PortOpen(); }));
    EXPECT_EQ(c.table().Checked(1008), 1) << "started on COM3";
    c.ClickTab(2);
    EXPECT_EQ(c.widget(1008)->toolTip().toStdString(), link);
    c.Click(1020);  // "OK": reopened, but remembered for this run only
    EXPECT_TRUE(c.dlg().PortOpen());
    EXPECT_EQ(c.profile.writes, 0);

    adapter.Pull(link);
    ASSERT_TRUE(WaitFor([&] { return !c.dlg().PortOpen(); }));
    adapter.Plug(link);
    ASSERT_TRUE(WaitFor([&] { return c.dlg().PortOpen(); }, 5000)) << "not opened again";
    // The window takes the pane's new text on its next turn of the event loop.
    std::string message;
    EXPECT_TRUE(WaitFor([&] {
        message = c.as<QPlainTextEdit>(1003)->toPlainText().toStdString();
        return message.find("Com Port 3 is opened\nCom Port 3 is opened") != std::string::npos;
    }))
        << message;
    ASSERT_FALSE(closer.Seen().empty());
    EXPECT_EQ(closer.Seen().back().text, "Communication port lost");
    // A box is as wide as its caption in a bold title, with room for the title bar's icon and buttons.
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    EXPECT_GE(closer.Seen().back().width,
              fm.horizontalAdvance(QString::fromStdString(closer.Seen().back().caption)) + 5 * fm.height());
    ::unsetenv("KALVOR_COM3");  // the mapping --port made for this process
    std::filesystem::remove_all(dir);
}
