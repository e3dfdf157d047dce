// `burn N` headless against the simulator with faults: a cut-off answer ends a run and the burn
// starts it again until N cycles are written; a module error ends the burn early. The records,
// read back as the report reads them, say who is who.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/headless/module_identity.h"
#include "e2e_rig.h"
#include "report/results_file.h"

using namespace kalvor;
using namespace kalvor::e2e;

TEST(BurnE2e, CutAnswersAreRetriedAModuleErrorEndsTheBurnAndRecordsSayWhoIsWho) {
    const struct {
        const char* name;
        double cut;
        unsigned errorAt;
        int status;
        size_t records;
    } cases[] = {
        {"cut answers", 0.2, 0, kExitLinkGiveUp, 25},
        {"module error", 0, 9, kExitModuleError, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zeda::SimOptions module = FastModule(2000);
        module.timeScale = 0;
        module.pacing = false;
        module.seed = 5;
        module.faults.cutResponse = c.cut;
        if (c.errorAt) module.faults.errorAt.push_back({c.errorAt, 0x41});
        char dir[] = "/tmp/kalvor-burn-e2e-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir));
        AppOptions options = With(&AppOptions::trace);
        options.results = std::string(dir) + "/m.csv";
        options.traceFile = std::string(dir) + "/m.trace";
        options.module = "bench-A1";
        options.model = 1;
        const Outcome r = RunConsole(module, "tab MENU; check UPPER; set \"Upper Request Count\" 2; burn 25; quit", options);
        EXPECT_EQ(r.status, c.status) << r.err << r.out;

        report::ModuleResults m;
        ASSERT_EQ(report::ReadResultsFile(options.results, m), "");
        ASSERT_EQ(m.cycles.size(), c.records) << r.err;
        EXPECT_EQ(m.name, "bench-A1");
        using V = std::vector<std::string>;
        const std::string port = m.identity[report::kIdPort].empty() ? "" : m.identity[report::kIdPort][0];
        EXPECT_EQ(port.rfind("/dev/pts/", 0), 0u) << port;
        EXPECT_EQ(m.identity[report::kIdDevice], V{port.substr(5)});
        EXPECT_EQ(m.identity[report::kIdAdapter], V{});  // a pseudo-terminal has no USB adapter
        EXPECT_EQ(m.identity[report::kIdModel], V{"ZEDA2000"});
        EXPECT_EQ(m.identity[report::kIdStation], V{StationName()});
        unsigned cut = 0;
        for (size_t i = 0; i < m.cycles.size(); ++i) {
            const report::CycleRecord& rec = m.cycles[i];
            EXPECT_EQ(rec.planned, 25u);
            cut += rec.ended == CycleEnd::BadFrames;
            // A run that a cut answer ended is followed by a new one, from its cycle 1.
            if (i > 0 && m.cycles[i - 1].ended == CycleEnd::BadFrames) {
                EXPECT_EQ(rec.run, m.cycles[i - 1].run + 1);
                EXPECT_EQ(rec.cycle, 1u);
            }
        }
        EXPECT_EQ(cut > 0, c.cut > 0);
        if (c.errorAt) {
            EXPECT_EQ(m.cycles.back().ended, CycleEnd::ModuleError);
        }
        // The trace's header says the same, and the plan.
        std::ifstream trace(options.traceFile);
        const std::string text((std::istreambuf_iterator<char>(trace)), {});
        EXPECT_NE(text.find("# module bench-A1, port " + port + ", device " + port.substr(5) + ", adapter -, station " +
                            StationName()),
                  std::string::npos)
            << text.substr(0, 600);
        EXPECT_NE(text.find("# burn: 25 cycles planned"), std::string::npos);
        std::filesystem::remove_all(dir);
    }
}
