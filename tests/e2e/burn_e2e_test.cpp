// `burn N` headless against the simulator with faults: a cut-off answer ends a run and the burn
// starts it again until N cycles are written; a module error ends the burn early. The records
// say who is who.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "app/headless/module_identity.h"
#include "e2e_rig.h"

using namespace kalvor;
using namespace kalvor::e2e;

TEST(BurnE2e, CutAnswersAreRetriedAModuleErrorEndsTheBurnAndRecordsSayWhoIsWho) {
    const struct {
        const char* name;
        double cut;
        unsigned errorAt;
        int status;
        size_t records;
        const char* lastEnded;
    } cases[] = {
        {"cut answers", 0.2, 0, kExitLinkGiveUp, 25, nullptr},
        {"module error", 0, 9, kExitModuleError, 9, "module error"},
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
        AppOptions options;
        options.results = std::string(dir) + "/m.csv";
        options.trace = true;
        options.traceFile = std::string(dir) + "/m.trace";
        options.module = "bench-A1";
        options.model = 1;
        const Outcome r = RunConsole(module, "tab MENU; check UPPER; set \"Upper Request Count\" 2; burn 25; quit", options);
        EXPECT_EQ(r.status, c.status) << r.err << r.out;

        // The records by the header's names.
        std::ifstream in(options.results);
        std::string line;
        std::getline(in, line);
        std::map<std::string, size_t> at;
        std::vector<std::string> names;
        for (size_t p = 0, q; p <= line.size(); p = q + 1) {
            q = line.find(',', p);
            if (q == std::string::npos) q = line.size();
            at[line.substr(p, q - p)] = names.size();
            names.push_back(line.substr(p, q - p));
        }
        std::vector<std::vector<std::string>> rows;
        while (std::getline(in, line)) {
            std::vector<std::string> f;
            for (size_t p = 0, q; p <= line.size(); p = q + 1) {
                q = line.find(',', p);
                if (q == std::string::npos) q = line.size();
                f.push_back(line.substr(p, q - p));
            }
            ASSERT_EQ(f.size(), names.size()) << line;
            rows.push_back(f);
        }
        ASSERT_EQ(rows.size(), c.records) << r.err;
        size_t cut = 0;
        std::string lastRun = "0";
        for (const auto& f : rows) {
            cut += f[at["ended"]] == "bad frames";
            // A run that a cut answer ended is followed by a new run.
            if (f[at["run"]] != lastRun) {
                EXPECT_EQ(f[at["cycle"]], "1");
            }
            lastRun = f[at["run"]];
            EXPECT_EQ(f[at["module"]], "bench-A1");
            EXPECT_EQ(f[at["port"]].rfind("/dev/pts/", 0), 0u) << f[at["port"]];
            EXPECT_EQ("/dev/" + f[at["device"]], f[at["port"]]);
            EXPECT_EQ(f[at["adapter"]], "");  // a pseudo-terminal has no USB adapter
            EXPECT_EQ(f[at["model"]], "ZEDA2000");
            EXPECT_EQ(f[at["station"]], StationName());
            EXPECT_EQ(f[at["planned"]], "25");
        }
        if (c.cut > 0) {
            EXPECT_GE(cut, 1u);
            // Every cut answer but one on the last cycle started one more run.
            EXPECT_EQ(std::stoul(lastRun), cut + (rows.back()[at["ended"]] == "bad frames" ? 0 : 1));
        } else {
            EXPECT_EQ(rows.back()[at["ended"]], c.lastEnded);
        }
        // The trace's header says the same, and the plan.
        std::ifstream trace(options.traceFile);
        const std::string text((std::istreambuf_iterator<char>(trace)), {});
        EXPECT_NE(text.find("# module bench-A1, port " + rows[0][at["port"]] + ", device " + rows[0][at["device"]] +
                            ", adapter -, station " + StationName()),
                  std::string::npos)
            << text.substr(0, 600);
        EXPECT_NE(text.find("# burn: 25 cycles planned"), std::string::npos);
        std::filesystem::remove_all(dir);
    }
}
