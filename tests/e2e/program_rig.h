// The built programs run as a technician runs them: zeda-sim in the background with its own
// standard error kept, kalvor-tp with a given environment, arguments and script.
#pragma once

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/csv_rows.h"

namespace kalvor::e2e {

using kalvor::test::ReadCsv;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// zeda-sim ARGS; `path` is the line it serves (its first line of output), its counters land in
// `errFile` when it ends.
struct SimProcess {
    pid_t pid = -1;
    std::string path;
    std::string errFile;

    SimProcess(const std::string& args, std::string errPath) : errFile(std::move(errPath)) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            const std::string cmd = "exec " KALVOR_BIN_DIR "/zeda-sim " + args + " 2>" + errFile;
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FILE* out = fdopen(fds[0], "r");
        char line[256] = {};
        if (out && fgets(line, sizeof line, out)) path = std::string(line).substr(0, std::string(line).find('\n'));
        if (out) fclose(out);
    }
    // Ends it (SIGTERM) and returns what it printed on standard error.
    std::string Stop() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int st = 0;
            waitpid(std::exchange(pid, -1), &st, 0);
        }
        return ReadFile(errFile);
    }
    ~SimProcess() { Stop(); }
};

// kalvor-tp ARGS started now with `env` before it and `script` on standard input; Finish()
// waits for it and returns its exit status, with standard output (and error) in `out`.
class ConsoleProcess {
public:
    ConsoleProcess(const std::string& env, const std::string& args, const std::string& script,
                   const std::string& scriptFile) {
        std::ofstream(scriptFile) << script;
        pipe_ = popen(("env " + env + " " KALVOR_BIN_DIR "/kalvor-tp " + args + " <" + scriptFile + " 2>&1").c_str(), "r");
    }
    int Finish() {
        if (!pipe_) return -1;
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, pipe_)) > 0;) out.append(buf, n);
        const int st = pclose(std::exchange(pipe_, nullptr));
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    ~ConsoleProcess() { Finish(); }
    std::string out;

private:
    FILE* pipe_ = nullptr;
};

}  // namespace kalvor::e2e
