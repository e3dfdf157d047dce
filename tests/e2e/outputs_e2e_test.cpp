// What a session writes: files checked and told apart before anything is emptied, standard
// output checked like a file, --append, and the trace's lines beside the bytes.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "e2e_rig.h"
#include "program_rig.h"

namespace kalvor::e2e {
namespace {

const char kThreeCycles[] =
    "tab MENU\ncheck UPPER\nset \"Upper Request Count\" 1\nset \"Repeat Count\" 3\nclick DISPENSE\nwait run\nquit\n";

// A folder of its own with a profile folder (cfg) and a script (s.txt); `Run` runs bash -c CMD
// there with $K the console, and returns kalvor-tp's status as CMD leaves it in the file st.
struct Bench {
    std::string dir;
    Bench() {
        char d[] = "/tmp/kalvor-outputs-XXXXXX";
        dir = mkdtemp(d) ? d : "/nonexistent";
        std::filesystem::create_directory(dir + "/cfg");
        std::ofstream(dir + "/s.txt") << kThreeCycles;
    }
    ~Bench() { std::filesystem::remove_all(dir); }
    int Run(const std::string& cmd) const {
        std::ofstream(dir + "/run.sh") << "cd " << dir << " && export XDG_CONFIG_HOME=" << dir
                                       << "/cfg && K='timeout 60 " KALVOR_BIN_DIR "/kalvor-tp --headless --simulate'\n"
                                       << cmd << "\n";
        const int st = std::system(("bash " + dir + "/run.sh").c_str());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::string Read(const std::string& name) const { return ReadFile(dir + "/" + name); }
};

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
    return n;
}

TEST(Outputs, RefusalsLeaveEveryFileAsItWasAndStandardOutputIsChecked) {
    struct Case {
        const char* name;
        const char* setup;    // shell commands before the session
        const char* session;  // $K with options and redirections; its status goes to st
        int status;
        const char* said;     // on standard error (err), once
        const char* closing = "";  // status 6: what the closing line names
    } cases[] = {
        {"same file twice", "", "$K --results p.csv --trace p.csv <s.txt 2>err", 2, "are the same file"},
        {"a link to the results file", "ln -s p.csv t.lnk", "$K --results p.csv --trace t.lnk <s.txt 2>err", 2,
         "are the same file"},
        {"the script as trace", "", "$K --script s.txt --trace s.txt 2>err", 2, "the trace file and the script"},
        {"a bad trace path", "", "$K --results p.csv --trace /nonexistent/t <s.txt 2>err", 2, "No such file"},
        {"a FIFO as results", "mkfifo f", "$K --results f <s.txt 2>err", 2, "FIFO"},
        {"a profile above 1 MiB", "truncate -s 2M cfg/kalvor-tp.ini", "$K --results p.csv <s.txt 2>err", 2,
         "larger than 1 MiB"},
        {"a device as profile", "ln -s /dev/zero cfg/kalvor-tp.ini", "$K <s.txt 2>err", 2, "device"},
        {"standard output full", "", "$K --trace --results r.csv <s.txt >/dev/full 2>err", 6,
         "cannot write to standard output: No space left on device", "standard output not written"},
        {"standard output closed early", "",
         "$K --trace --results r.csv <s.txt 2>err | head -1 >/dev/null; echo ${PIPESTATUS[0]} >st; exit 0", 6,
         "cannot write to standard output: Broken pipe", "standard output not written"},
        {"a trace past the file size limit", "ulimit -f 1", "$K --results r.csv --trace t.txt <s.txt 2>err", 6,
         "cannot write the trace file t.txt: File too large", "trace file not written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        std::ofstream(b.dir + "/p.csv") << "precious\n";
        ASSERT_EQ(b.Run(std::string(c.setup) + (*c.setup ? " && " : "") + c.session + "; echo $? >st; exit 0"), 0);
        EXPECT_EQ(std::stoi(b.Read("st")), c.status);
        const std::string err = b.Read("err");
        EXPECT_EQ(Count(err, c.said), 1) << err;
        EXPECT_EQ(b.Read("p.csv"), "precious\n");
        EXPECT_EQ(b.Read("s.txt"), kThreeCycles);
        if (c.status == 6) {  // the session went on: every record written, the closing line last
            EXPECT_EQ(Count(b.Read("r.csv"), ",answered,"), 3) << b.Read("r.csv");
            EXPECT_NE(err.find("3 cycles, 0 module errors, 0 link give-ups, " + std::string(c.closing) + " (exit 6)"),
                      std::string::npos) << err;
        } else {
            EXPECT_FALSE(std::filesystem::exists(b.dir + "/r.csv"));
        }
    }
}

TEST(Outputs, AppendKeepsOneHeaderAndGoesOnWithTheRuns) {
    Bench b;
    ASSERT_EQ(b.Run("$K --append --results a.csv --trace t.txt <s.txt 2>/dev/null && "
                    "$K --append --results a.csv --trace t.txt <s.txt 2>/dev/null"), 0);
    const std::string csv = b.Read("a.csv");
    EXPECT_EQ(Count(csv, "run,cycle,command"), 1) << csv;
    for (const char* row : {"\n1,1,E,", "\n1,3,E,", "\n2,1,E,", "\n2,3,E,"}) EXPECT_EQ(Count(csv, row), 1) << csv;
    EXPECT_EQ(Count(csv, ",answered,"), 6) << csv;
    EXPECT_EQ(Count(b.Read("t.txt"), "protocol trace, started"), 2);
    // A file that is not ours is not appended to.
    std::ofstream(b.dir + "/p.csv") << "precious\n";
    EXPECT_EQ(b.Run("$K --append --results p.csv <s.txt 2>/dev/null"), 2);
    EXPECT_EQ(b.Read("p.csv"), "precious\n");
}

TEST(Outputs, TheTraceTellsTimeOutsGiveUpsBoxesThePortAndTheScript) {
    zeda::SimOptions module = FastModule(2000);
    module.faults.dropAck = 1;
    const std::string trace = "/tmp/kalvor-trace-" + std::to_string(getpid()) + ".txt";
    AppOptions options;
    options.trace = true;
    options.traceFile = trace;
    const Outcome r = RunConsole(module, "click STATUS; wait idle 20000", options);
    const std::string text = ReadFile(trace);
    std::filesystem::remove(trace);
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_EQ(Count(text, " LINK time-out: ACK timer in AwaitAck\n"), 4) << text;
    EXPECT_EQ(Count(text, " TX 04 50 02 46 03 13 |"), 4) << text;
    for (const char* line : {" PORT COM1 ", " SCRIPT click STATUS\n", " SCRIPT wait idle 20000\n",
                             " LINK gave up: no ACK in AwaitAck\n", " BOX Error: TimeOut : Receive Ack\n"})
        EXPECT_EQ(Count(text, line), 1) << line << "\n" << text;
    // Stamped as the byte lines: ms since the start, +ms since the line before.
    const size_t box = text.find(" BOX Error");
    const size_t start = text.rfind('\n', box) + 1;
    EXPECT_EQ(text.substr(start, box - start).find_first_not_of("0123456789.+ "), std::string::npos) << text;
    // On standard output the box carries the seconds since the start, to the millisecond.
    const size_t at = r.rawOut.find("BOX [");
    ASSERT_NE(at, std::string::npos) << r.rawOut;
    EXPECT_EQ(r.rawOut.find("] Error: TimeOut : Receive Ack\n", at), r.rawOut.find("] ", at)) << r.rawOut;
}

}  // namespace
}  // namespace kalvor::e2e
