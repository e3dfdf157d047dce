// The headless script on the test host: numbers that cannot wrap, names of controls, and a
// dispense run driven by names against the simulated module.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/headless/control_names.h"
#include "app/headless/script_runner.h"
#include "support/script_test_host.h"
#include "support/test_host.h"
#include "zeda_module.h"

namespace kalvor::test {
namespace {

struct ScriptRig {
    explicit ScriptRig(ConsoleOptions options = {}, zeda::Module* module = nullptr)
        : console(options), host(console, module), runner(*console.dlg, host, out, err) {}
    // Runs the lines; returns the runner's status.
    int Run(const std::string& script) {
        std::istringstream in(script);
        return runner.Run(in);
    }
    TestConsole console;
    ScriptTestHost host;
    std::ostringstream out, err;
    ScriptRunner runner;
};

TEST(ScriptNumbers, RangeCheckedNeverWrapped) {
    struct Case {
        const char* line;
        const char* error;  // a part of the error text; empty when the line must succeed
        int64_t advancedMs; // the virtual clock's move, for lines that succeed
    } cases[] = {
        {"wait 0", "", 0},
        {"wait 2147483647", "", 2147483647},
        {"wait 2147483648", "from 0 to 2147483647", 0},
        {"wait 9000000000000000", "from 0 to 2147483647", 0},
        {"wait 9223372036854775807", "from 0 to 2147483647", 0},
        {"wait 18446744073709551617", "from 0 to 2147483647", 0},
        {"wait -1", "not '-1'", 0},
        {"wait +5", "not '+5'", 0},
        {"wait 1e3", "not '1e3'", 0},
        {"wait", "not ''", 0},
        {"wait 10 20", "unexpected '20'", 0},
        {"wait idle 2147483648", "wait idle needs", 0},
        {"wait run 99999999999", "wait run needs", 0},
        {"wait idle 0", "", 0},
        {"click 4294968346", "no control 4294968346", 0},  // 1050 + 2^32
        {"click 99999999999999999999999", "no control", 0},
        {"click 2000", "no control 2000", 0},
        {"set 4294968358 5", "no control", 0},
        {"print 2147483648", "no control", 0},
        {"tab 4294967297", "no tab", 0},
        {"tab 4", "no tab 4", 0},  // no calibration tabs
        {"click \"STATUS", "quote is not closed", 0},
        {"click \"STATUS\"x", "blank must follow", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptRig rig;
        const int64_t before = rig.console.host.now;
        const size_t writes = rig.console.channel->writes.size();
        const int status = rig.Run(c.line);
        if (*c.error) {
            EXPECT_EQ(status, 1);
            EXPECT_NE(rig.err.str().find(c.error), std::string::npos) << rig.err.str();
            EXPECT_EQ(rig.console.channel->writes.size(), writes);  // nothing pressed
        } else {
            EXPECT_EQ(status, 0) << rig.err.str();
            EXPECT_EQ(rig.console.host.now - before, c.advancedMs);
        }
    }
}

TEST(ScriptNames, EditsAreNamedByTheirLabels) {
    // Every name of a page, derived from captions and the layout: each expected pair must be
    // there, and each name listed for the page must fit only the ids given.
    struct Case {
        int page;
        std::vector<std::pair<std::string, std::vector<int>>> names;
    } cases[] = {
        {0, {{"STATUS", {1050}}, {"Message", {1003}}, {"Status", {1004}}, {"EXIT", {1}}, {"Exit Sensor", {1041}}}},
        {1,
         {{"ZEDA1000", {1134}}, {"UPPER", {1026}}, {"Rsp Time", {1068}}, {"Upper Request Count", {1028}},
          {"Lower Request Count", {1029}}, {"Repeat Count", {1030}}, {"RJT Count", {1137}},
          {"Total Dispense Count", {1031}}, {"Executed Count", {1032}}, {"DISPENSE", {1020}},
          {"Cancel", {1022}}, {"Purge", {1051}}, {"Upper Empty", {1072}}}},
        {2, {{"OK", {1020}}, {"Even", {1013}}, {"9600", {1017}}, {"COM4", {1009}}}},
        {3, {{"DIVERT", {1054}}, {"UPPER", {1125}}, {"RVDT Value", {1067}}}},
        {4,
         {{"RVDT Avarage", {1082, 1097}}, {"+ Margin", {1083, 1110}}, {"- Margin", {1084, 1111}},
          {"RVDT MIN", {1085, 1113}}, {"RVDT MAX", {1086, 1114}}, {"NOTES LENGTH", {1095, 1096, 1115, 1116}},
          {"Set", {1098}}, {"REQ SEEPROM", {1099}}, {"REQ AVERAGE", {1100}}}},
        {5, {{"TYPE 1", {1098}}, {"TYPE 4", {1112}}}},
    };
    ConsoleOptions options;
    options.calibrationTabs = true;
    options.simulatedModel = 1;
    TestConsole console(options);
    for (const Case& c : cases) {
        console.Tab(c.page);
        for (const auto& [name, ids] : c.names)
            EXPECT_EQ(ControlsNamed(console.controls(), name), ids) << "page " << c.page << ": " << name;
        // A statics' caption names no control, and nothing hidden has a name.
        for (const ControlName& n : CurrentNames(console.controls())) {
            if (n.tab) continue;
            const Control* control = console.controls().Find(n.id);
            ASSERT_NE(control, nullptr);
            EXPECT_TRUE(control->visible) << n.name;
            EXPECT_NE(control->kind, ControlKind::Static) << n.name;
        }
    }
}

TEST(ScriptNames, ResolveActAndRefuse) {
    ConsoleOptions options;
    options.calibrationTabs = true;
    struct Case {
        const char* script;
        const char* out;    // expected standard output
        const char* error;  // a part of the error text, or empty
    } cases[] = {
        {"tab MENU\nset \"Repeat Count\" 50\nprint \"Repeat Count\"\nprint 1030", "1030: 50\n1030: 50\n", ""},
        {"tab MENU\ncheck UPPER\nprint UPPER\nuncheck UPPER\nprint 1026", "1026: 1\n1026: 0\n", ""},
        {"tab \"Set Environmant\"\nset \"+ Margin\" 5", "", "\"+ Margin\" fits several controls: 1083, 1110"},
        {"tab \"Set Environmant\"\nset 1083 5 # kept\nprint 1083", "1083: 5 # kept\n", ""},
        {"tab MENU # comment\nprint \"Executed Count\" # comment", "1032: 0\n", ""},
        {"click DISPENSE", "", "no control named \"DISPENSE\" on this page"},
        {"tab SETUP\nclick 9600\nprint 9600\nprint \"9600\"", "1017: 1\n1017: 1\n", ""},
        {"tab Setup", "", "no tab named \"Setup\""},
        {"tab MENU\nset Cancel 5", "", "1022 is not an edit"},
        {"tab MENU\nclick \"Total Dispense Count\"", "", "1031 is disabled"},
        {"tab SETUP\nprint names", "names:\ntab 0 STATUS\ntab 1 MENU\ntab 2 SETUP\ntab 3 TP\n"
                                   "tab 4 \"Set Environmant\"\ntab 5 \"Notes Init\"\n1003 Message\n"
                                   "1004 Status\n1 EXIT\n1020 OK\n1012 None\n1013 Even\n1014 Odd\n"
                                   "1016 \"4800\"\n1017 \"9600\"\n1018 \"19200\"\n1019 \"38400\"\n"
                                   "1006 COM1\n1007 COM2\n1008 COM3\n1009 COM4\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ScriptRig rig(options);
        const int status = rig.Run(c.script);
        EXPECT_EQ(rig.out.str(), c.out);
        if (*c.error) {
            EXPECT_EQ(status, 1);
            EXPECT_NE(rig.err.str().find(c.error), std::string::npos) << rig.err.str();
        } else {
            EXPECT_EQ(status, 0) << rig.err.str();
        }
    }
}

TEST(ScriptFile, OnlyAReadableFileIsAScript) {
    char dir[] = "/tmp/kalvor-script-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/s.txt";
    std::ofstream(file) << "quit\n";
    EXPECT_EQ(ScriptFileProblem(file), "");
    EXPECT_EQ(ScriptFileProblem(dir), "it is a folder");
    EXPECT_EQ(ScriptFileProblem(std::string(dir) + "/missing"), "No such file or directory");
    ::chmod(file.c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(ScriptFileProblem(file), "Permission denied");
    }
    std::remove(file.c_str());
    ::rmdir(dir);
}

}  // namespace
}  // namespace kalvor::test
