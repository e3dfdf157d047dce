// What --report may write over: only a new .html file or an old report of its own; everything
// else is refused with exit 2 and left byte for byte as it was, and no temporary file is left.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ReportOutput, RefusesWhatIsNotANewOrOwnReport) {
    const fs::path dir = fs::temp_directory_path() / ("kalvor-report-out-" + std::to_string(getpid()));
    const std::string program = std::string(KALVOR_BIN_DIR) + "/kalvor-tp";
    const std::string csv =
        "run,cycle,command,upper_request,lower_request,dispensed,rejected,result_code,result_text,upper_empty,"
        "lower_empty,write_to_ack_ms,ack_to_answer_ms,ended,wall_time,write_to_answer_ms,resends,naks_sent,"
        "naks_received,upper_dispensed,lower_dispensed,upper_rejected,lower_rejected,notices_double,"
        "notices_length,notices_nearing,notices_other\n"
        "1,1,E,02,,2,0,31,OK,0,0,1.000,800.000,answered,2026-12-07T18:00:01.000Z,801.000,0,0,0,,,,,0,0,0,0\n";
    const std::string ours = "<!DOCTYPE html>\n<html><head><meta name=\"generator\" content=\"kalvor-tp report\"/>old";
    const struct {
        const char* name;
        const char* args;      // OUT and the inputs, in the folder
        const char* out;       // the file that must stay or be replaced
        const char* before;    // its bytes before ("" : it does not exist)
        int status;
        const char* says;
        bool replaced;
    } cases[] = {
        {"the output name forgotten", "bench-1.csv bench-2.csv", "bench-1.csv", "csv", 2, "must be a file ending in .html", false},
        {"only the output given", "bench-1.csv", "bench-1.csv", "csv", 2, "needs at least one results file", false},
        {"OUT is an input", "link.html bench-2.csv", "bench-2.csv", "csv", 2, "would overwrite its input", false},
        {"OUT is not ours", "notes.html bench-2.csv", "notes.html", "<html>my notes</html>", 2, "is not a kalvor-tp report", false},
        {"OUT is a folder", "folder.html bench-2.csv", "", "", 2, "is not a regular file", false},
        {"OUT's folder is missing", "none/r.html bench-2.csv", "none/r.html", "", 2, "cannot create a file beside it", false},
        {"an old report of ours", "old.html bench-2.csv", "old.html", ours.c_str(), 0, "bench-2.csv: 1 cycle, within limits", true},
        {"a new report", "new.html bench-2.csv", "new.html", "", 0, "within limits", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directories(dir / "folder.html");
        std::ofstream(dir / "bench-1.csv") << csv;
        std::ofstream(dir / "bench-2.csv") << csv;
        fs::create_symlink(dir / "bench-2.csv", dir / "link.html");
        const std::string before = std::string(c.before) == "csv" ? csv : c.before;
        if (*c.out && !before.empty()) std::ofstream(dir / c.out, std::ios::binary) << before;

        const std::string cmd = "cd '" + dir.string() + "' && " + program + " --report " + c.args + " 2>&1";
        std::string said;
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char buf[4096];
        while (size_t n = fread(buf, 1, sizeof buf, p)) said.append(buf, n);
        const int status = pclose(p);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        if (*c.out) {
            const std::string after = fs::exists(dir / c.out) ? Slurp(dir / c.out) : "";
            if (c.replaced) EXPECT_NE(after.find("<meta name=\"generator\" content=\"kalvor-tp report\"/>"), std::string::npos);
            if (c.replaced) EXPECT_NE(after.find("Burn-in report"), std::string::npos);
            else EXPECT_EQ(after, before);
        }
        EXPECT_EQ(Slurp(dir / "bench-2.csv"), csv);
        for (const auto& e : fs::recursive_directory_iterator(dir))
            EXPECT_EQ(e.path().filename().string().find(".kalvor-report-"), std::string::npos) << e.path();
    }
    fs::remove_all(dir);
}

}  // namespace
