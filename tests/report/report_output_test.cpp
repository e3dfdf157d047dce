// What --report may write over: only a new .html file or an old report of its own; everything
// else is refused with exit 2 and left byte for byte as it was, and no temporary file is left.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

static std::string Slurp(const fs::path& p) {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

TEST(ReportOutput, RefusesWhatIsNotANewOrOwnReport) {
    const fs::path dir = fs::temp_directory_path() / ("kalvor-report-out-" + std::to_string(getpid()));
    const std::string csv =
        "run,cycle,command,upper_request,lower_request,dispensed,rejected,result_code,result_text,upper_empty,"
        "lower_empty,write_to_ack_ms,ack_to_answer_ms,ended,wall_time,write_to_answer_ms,resends,naks_sent,"
        "naks_received,upper_dispensed,lower_dispensed,upper_rejected,lower_rejected,notices_double,"
        "notices_length,notices_nearing,notices_other\n"
        "1,1,E,02,,2,0,31,OK,0,0,1.000,800.000,answered,2026-12-07T18:00:01.000Z,801.000,0,0,0,,,,,0,0,0,0\n";
    const std::string ours = "<!DOCTYPE html>\n<html><head><meta name=\"generator\" content=\"kalvor-tp report\"/>old";
    const struct {
        const char *args, *out;  // OUT and the inputs; the file that must stay or be replaced
        std::string before;      // its bytes before ("": it does not exist)
        int status;
        const char* says;
    } cases[] = {
        {"bench-1.csv bench-2.csv", "bench-1.csv", csv, 2, "must be a file ending in .html"},  // OUT forgotten
        {"bench-1.csv", "bench-1.csv", csv, 2, "needs at least one results file"},
        {"link.html bench-2.csv", "bench-2.csv", csv, 2, "would overwrite its input"},
        {"notes.html bench-2.csv", "notes.html", "<html>my notes</html>", 2, "is not a kalvor-tp report"},
        {"folder.html bench-2.csv", "", "", 2, "is not a regular file"},
        {"none/r.html bench-2.csv", "none/r.html", "", 2, "cannot create a file beside it"},
        {"old.html bench-2.csv", "old.html", ours, 0, "bench-2.csv: 1 cycle, within limits"},  // replaced
        {"new.html bench-2.csv", "new.html", "", 0, "within limits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        fs::remove_all(dir);
        fs::create_directories(dir / "folder.html");
        std::ofstream(dir / "bench-1.csv") << csv;
        std::ofstream(dir / "bench-2.csv") << csv;
        fs::create_symlink(dir / "bench-2.csv", dir / "link.html");
        if (*c.out && !c.before.empty()) std::ofstream(dir / c.out, std::ios::binary) << c.before;
        const int status = std::system(("cd '" + dir.string() + "' && " KALVOR_BIN_DIR "/kalvor-tp --report " + c.args +
                                        " >said.txt 2>&1").c_str());
        const std::string said = Slurp(dir / "said.txt");
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        const std::string after = *c.out && fs::exists(dir / c.out) ? Slurp(dir / c.out) : "";
        if (c.status == 0) EXPECT_NE(after.find("kalvor-tp report\"/><title>KALVOR TP burn-in report"), std::string::npos);
        else EXPECT_EQ(after, c.before);
        EXPECT_EQ(Slurp(dir / "bench-2.csv"), csv);
        for (const auto& e : fs::recursive_directory_iterator(dir))
            EXPECT_EQ(e.path().filename().string().find(".kalvor-report-"), std::string::npos) << e.path();
    }
    fs::remove_all(dir);
}
