// A babbling line: kalvor-tp (headless, or its window under QT_QPA_PLATFORM=offscreen) on the
// slave side of a pseudo-terminal, flooded from the master side as fast as it takes the bytes in.
// Every 10 s the program prints the bytes the console took in that interval, the same per second
// of CPU time the console used (on a shared machine the console's share of the CPU changes with
// the others' load; bytes per CPU second do not), and the console's resident memory. At the end:
// the throughput of the last minute beside the first (or, for runs shorter than two minutes, of
// the last fifth beside the first fifth), both ways.
//
// Kinds of flood:
//   soh      every byte an SOH: each is shown as a raw frame in the Message pane
//   unasked  unasked good frames: "STATUS" answers, each a Status pane line and an ACK
//   noise    random bytes, one in 32 an SOH and none an ETX: raw frames of every length (with
//            ETX bytes, frames with a wrong BCC end each exchange with the box "Error Receive
//            Frame", which in the window waits for the operator and holds the reader meanwhile)
//
//   bench_flood headless|window soh|unasked|noise SECONDS [PATH-TO-kalvor-tp]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

using Clock = std::chrono::steady_clock;

namespace {

std::vector<uint8_t> Pattern(const std::string& kind) {
    std::vector<uint8_t> p;
    if (kind == "soh") {
        p.assign(4096, kalvor::SOH);
    } else if (kind == "unasked") {
        const kalvor::bench::Bytes f = kalvor::bench::Response('F', {'0', 0x00, 0x41, 0x02});
        while (p.size() < 4000) p.insert(p.end(), f.begin(), f.end());
    } else if (kind == "noise") {
        std::mt19937 rng(1);
        p.resize(1 << 16);
        for (uint8_t& b : p) {
            b = static_cast<uint8_t>(rng());
            if (b == kalvor::SOH || b == kalvor::ETX) b = 0x00;
            if (rng() % 32 == 0) b = kalvor::SOH;
        }
    }
    return p;
}

// CPU time of process `pid` (all its threads), in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) utime = std::stoull(f);
        if (i == 15) stime = std::stoull(f);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_flood headless|window soh|unasked|noise SECONDS [kalvor-tp]\n");
        return 2;
    }
    const bool window = std::string(argv[1]) == "window";
    const std::string kind = argv[2];
    const int seconds = std::max(20, std::atoi(argv[3]));
    const std::string program = argc > 4 ? argv[4] : std::string(KALVOR_BIN_DIR) + "/kalvor-tp";
    const std::vector<uint8_t> pattern = Pattern(kind);
    if (pattern.empty()) {
        std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
        return 2;
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return 1;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    char dir[] = "/tmp/kalvor-flood-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    const std::string script = std::string(dir) + "/script";
    std::ofstream(script) << "wait " << (seconds + 60) * 1000 << "\n";

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_CONFIG_HOME", dir, 1);
        ::setenv("KALVOR_COM1", name, 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (window)
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        else
            ::execl(program.c_str(), program.c_str(), "--headless", "--script", script.c_str(),
                    static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The console has opened its port when the master stops reporting a hang-up.
    for (int i = 0; i < 1000; ++i) {
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 0);
        if ((p.revents & POLLHUP) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::printf("flood %s, %s, %d s: bytes taken in and resident memory every 10 s\n", kind.c_str(),
                window ? "window (offscreen)" : "headless", seconds);
    std::fflush(stdout);
    std::vector<double> perSecond;  // bytes taken in, one entry per second
    std::vector<double> cpu;        // the console's CPU seconds at the end of each second
    const auto start = Clock::now();
    const double cpu0 = CpuSeconds(pid);
    auto nextSecond = start + std::chrono::seconds(1);
    size_t at = 0;
    uint64_t second = 0, interval = 0;
    uint8_t sink[4096];
    while (perSecond.size() < static_cast<size_t>(seconds)) {
        pollfd p{master, POLLIN | POLLOUT, 0};
        ::poll(&p, 1, 20);
        if (p.revents & POLLIN) {
            while (::read(master, sink, sizeof sink) > 0) {
            }
        }
        if (p.revents & POLLOUT) {
            const size_t n = std::min<size_t>(1024, pattern.size() - at);
            const ssize_t w = ::write(master, pattern.data() + at, n);
            if (w > 0) {
                second += static_cast<uint64_t>(w);
                at = (at + static_cast<size_t>(w)) % pattern.size();
            }
        }
        if (p.revents & POLLHUP) {
            std::printf("  the console closed its port\n");
            break;
        }
        if (Clock::now() >= nextSecond) {
            perSecond.push_back(static_cast<double>(second));
            cpu.push_back(CpuSeconds(pid));
            interval += second;
            second = 0;
            nextSecond += std::chrono::seconds(1);
            if (perSecond.size() % 10 == 0) {
                const size_t n = cpu.size();
                const double used = cpu[n - 1] - (n > 10 ? cpu[n - 11] : cpu0);
                std::printf("  %4zu s  %8.1f KB/s  %8.1f KB per CPU s  %6.1f MiB\n", perSecond.size(),
                            interval / 10.0 / 1000.0, used > 0 ? interval / used / 1000.0 : 0.0,
                            kalvor::bench::ResidentKiB(pid) / 1024.0);
                std::fflush(stdout);
                interval = 0;
            }
        }
    }
    const long rssEnd = kalvor::bench::ResidentKiB(pid);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    ::close(master);
    std::filesystem::remove_all(dir);

    const size_t n = perSecond.size();
    const size_t w = n >= 120 ? 60 : std::max<size_t>(1, n / 5);
    if (n < 2 * w) return 1;
    double first = 0, last = 0;
    for (size_t i = 0; i < w; ++i) {
        first += perSecond[i];
        last += perSecond[n - 1 - i];
    }
    const double cpuFirst = cpu[w - 1] - cpu0, cpuLast = cpu[n - 1] - cpu[n - 1 - w];
    const double perCpuFirst = cpuFirst > 0 ? first / cpuFirst : 0, perCpuLast = cpuLast > 0 ? last / cpuLast : 0;
    std::printf("  first %zu s %.1f KB/s (%.1f KB per CPU s), last %zu s %.1f KB/s (%.1f KB per CPU s): "
                "last / first %.2f (per CPU s %.2f); resident memory at the end %.1f MiB\n",
                w, first / w / 1000.0, perCpuFirst / 1000.0, w, last / w / 1000.0, perCpuLast / 1000.0,
                first > 0 ? last / first : 0.0, perCpuFirst > 0 ? perCpuLast / perCpuFirst : 0.0, rssEnd / 1024.0);
    return 0;
}
