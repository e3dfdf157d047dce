// `burn N` on the virtual clock against the simulated module: runs of at most 999 cycles until N
// are written, every record carrying the plan; a module error ends the burn; operands and page
// checked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/headless/script_runner.h"
#include "burnin/burn_in_recorder.h"
#include "burnin/progress_line.h"
#include "support/csv_rows.h"
#include "support/script_test_host.h"
#include "support/test_host.h"
#include "zeda_module.h"

namespace kalvor::test {
namespace {

TEST(Burn, RunsOfAtMost999UntilNWrittenAndAModuleErrorEndsIt) {
    const struct {
        const char* script;
        unsigned errorAt;  // the dispense the module answers with error 0x41, 0: none
        int status;
        unsigned records, runs, lastRunCycles;  // records of the plan (the `planned` column)
        const char* err;
    } cases[] = {
        {"tab MENU\ncheck UPPER\nset \"Upper Request Count\" 1\nburn 1200\n", 0, 0, 1200, 2, 201, ""},
        {"tab MENU\ncheck UPPER\nset \"Upper Request Count\" 1\nburn 1200\n", 1003, 0, 1003, 2, 4, ""},
        {"tab MENU\nburn\n", 0, 1, 0, 0, 0, "script error: script:2: burn needs a number of cycles from 1 to 1000000\n"},
        {"tab MENU\nburn 0\n", 0, 1, 0, 0, 0, "script:2: burn needs a number of cycles from 1 to 1000000, not '0'\n"},
        {"tab MENU\nburn 1000001 # too many\n", 0, 1, 0, 0, 0, "not '1000001'\n"},
        {"tab MENU\nburn 5 6\n", 0, 1, 0, 0, 0, "script:2: unexpected '6' after the command\n"},
        {"burn 5\n", 0, 1, 0, 0, 0, "script:1: burn dispenses from the MENU page (tab MENU first)\n"},
        // Nothing ticked: "DISPENSE" refuses the request with its box, and the burn says so.
        {"tab MENU\nburn 5\n", 0, 1, 0, 0, 0, "script:2: burn: DISPENSE started no dispense run (see the box above)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        zeda::SimOptions sim;
        sim.model = 1000;
        sim.lowerPresent = false;
        sim.notesUpper = 100000;
        sim.rejectRate = 0;
        if (c.errorAt) sim.faults.errorAt.push_back({c.errorAt, 0x41});
        zeda::Module module(sim);
        TestConsole console;
        ScriptTestHost host(console, &module);
        std::ostringstream out, err;
        ScriptRunner runner(*console.dlg, host, out, err);
        char dir[] = "/tmp/kalvor-burn-unit-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        const std::string path = std::string(dir) + "/r.csv";
        BurnInRecorder recorder;
        std::string why;
        ASSERT_TRUE(recorder.Open(path, why)) << why;
        console.dlg->Events().Add(&recorder);
        std::ostringstream progressText;
        ProgressLine progress(progressText, false);  // counts the whole burn, not one run
        console.dlg->Events().Add(&progress);
        std::istringstream script(c.script);
        EXPECT_EQ(runner.Run(script), c.status);
        console.dlg->Events().Remove(&recorder);
        console.dlg->Events().Remove(&progress);
        if (c.records) {
            const std::string shown = progressText.str();
            EXPECT_EQ(shown.rfind("cycle " + std::to_string(c.records) + "/1200,"), shown.rfind('\n', shown.size() - 2) + 1)
                << shown.substr(shown.size() - std::min<size_t>(shown.size(), 300));
        }
        const std::string said = err.str();
        EXPECT_EQ(said.substr(said.size() - std::min(said.size(), std::string(c.err).size())), c.err) << said;

        // Every record carries the plan (the last column); the runs are numbered on, the last
        // has the rest; the last record tells how the burn ended.
        const auto rows = ReadCsv(path);
        for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].back(), "1200") << i;
        EXPECT_EQ(rows.size() - 1, c.records);
        if (c.records) {
            const std::vector<std::string>& last = rows.back();
            EXPECT_EQ(last[0] + "," + last[1] + "," + last[2] + "," + last[3],
                      std::to_string(c.runs) + "," + std::to_string(c.lastRunCycles) + ",E,01");
            EXPECT_EQ(std::find(last.begin(), last.end(), "module error") != last.end(), c.errorAt > 0);
        }
        EXPECT_FALSE(console.dlg->RunActive());
        std::remove(path.c_str());
        rmdir(dir);
    }
}

}  // namespace
}  // namespace kalvor::test
