// Reconnect: the headless console against zeda-sim --link, whose link goes and comes back as a
// by-id name does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "app/headless/headless_host.h"
#include "app/headless/port_watcher.h"
#include "e2e_rig.h"
#include "program_rig.h"

using namespace kalvor;


TEST(Reconnect, HeadlessConsoleOpensTheNameAgainWhenTheModuleReturnsAndTheRunStaysEnded) {
    char dir[] = "/tmp/kalvor-relink-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string link = std::string(dir) + "/usb-zeda-if00-port0";  // as a by-id name
    auto first = std::make_unique<e2e::SimProcess>("--no-pacing --time-scale 0 --link " + link,
                                                   std::string(dir) + "/first.err");
    ASSERT_FALSE(first->path.empty());
    // A long run that the pull ends; after the return, a STATUS on the new line.
    const std::string script =
        "tab 1\ncheck 1026\nset 1028 1\nset 1030 50\nclick 1020\nwait 1500\nwait 4000\nprint message\n"
        "print 1032\ntab 0\nclick 1050\nwait idle 5000\nprint status\nquit\n";
    e2e::ConsoleProcess console(std::string("XDG_CONFIG_HOME=") + dir,
                                "--headless --port " + link + " --results " + dir + "/run.csv", script,
                                std::string(dir) + "/script.txt");
    usleep(1000 * 1000);
    first->Stop();  // the adapter is pulled: its name goes, then the line
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed at exit";
    usleep(1000 * 1000);
    e2e::SimProcess second("--no-pacing --time-scale 0 --link " + link, std::string(dir) + "/second.err");
    ASSERT_FALSE(second.path.empty());

    EXPECT_EQ(console.Finish(), 6) << "a lost port fails the bench even when it comes back\n" << console.out;
    const std::string& out = console.out;
    EXPECT_NE(e2e::Untimed(out).find("BOX comm Error!: Communication port lost\n"), std::string::npos) << out;
    EXPECT_NE(out.find("1003: Com Port 1 is opened"), std::string::npos) << out;
    EXPECT_NE(out.find("\\r\\nCom Port 1 is opened\n"), std::string::npos) << "the reopening, on a line of its own\n"
                                                                           << out;
    EXPECT_NE(out.find("1004: STATUS ERR : "), std::string::npos) << "answered on the returned line\n" << out;
    // The run the pull ended stays ended: the cycles recorded are those executed before the
    // pull, and the module that came back was asked for no dispense at all.
    const std::string csv = e2e::ReadFile(std::string(dir) + "/run.csv");
    const int rows = static_cast<int>(std::count(csv.begin(), csv.end(), '\n')) - 1;
    EXPECT_GE(rows, 1);
    EXPECT_NE(out.find("1032: " + std::to_string(rows) + "\n"), std::string::npos) << out << csv;
    EXPECT_NE(second.Stop().find("dispense cycles 0,"), std::string::npos);
    std::filesystem::remove_all(dir);
}
