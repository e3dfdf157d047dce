// From the last byte of a response arriving to the console's ACK leaving: the console runs as in
// `kalvor-tp --headless` (the real CComm with its reader thread, the headless host's UI loop, the
// link, the decoders) on the slave side of a pseudo-terminal; this program plays the module on
// the master side. For every frame it writes all bytes of a "STATUS" answer but the last, lets the
// console take them in, then stamps the clock, writes the last byte and waits for the ACK; the
// time until the ACK can be read is one sample. The figure includes both pseudo-terminal hops, the
// reader thread's wake-up and hand-over to the UI thread, the BCC check and the write.
//
// Three baselines take turns with the console in blocks of 100 frames, so that all four see the
// same load on the machine: a minimal C receiver and a plain Python receiver, each a process of
// its own with one thread reading the pseudo-terminal and writing the ACK, and a reader thread
// that hands the frame to a second thread through a mutex and a condition variable (the least
// that a design with a reader thread and a UI thread pays).
//
//   bench_ack_latency [FRAMES]      (default 2000 of each)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/headless/headless_host.h"
#include "bench_support.h"
#include "console/console_dlg.h"
#include "zeda_simulator.h"

using namespace kalvor;
using Clock = std::chrono::steady_clock;

namespace {

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
        } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
    }
    return true;
}

// Reads until `want` arrives or 1 s passes; returns the moment it was read.
bool AwaitByte(int fd, uint8_t want, Clock::time_point& at) {
    const auto limit = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < limit) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        uint8_t buf[64];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        at = Clock::now();
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == want) return true;
    }
    return false;
}

// Plays the module side of `frames` exchanges on `master`; one sample per ACK.
void Exchange(int master, const bench::Bytes& answer, int frames, std::vector<double>& samples, int& lost) {
    for (int i = 0; i < frames; ++i) {
        WriteAll(master, answer.data(), answer.size() - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto start = Clock::now();
        WriteAll(master, &answer.back(), 1);
        Clock::time_point ack;
        if (!AwaitByte(master, ACK, ack)) {
            ++lost;
            continue;
        }
        samples.push_back(Micros(ack - start));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A receiver in a process of its own on the slave side of a pseudo-terminal pair: reads until a
// whole frame is in, then writes the ACK. `program` is the command line; the slave's path and the
// frame's length are appended.
class Receiver {
public:
    Receiver(std::vector<std::string> program, size_t frameLength) {
        zeda::OpenPtyPair(master, m_slavePath);
        program.push_back(m_slavePath);
        program.push_back(std::to_string(frameLength));
        std::vector<char*> args;
        for (std::string& a : program) args.push_back(a.data());
        args.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Receiver() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(master);
    }
    // Waits until the receiver answers a frame (it has opened its side), then drops whatever
    // else it wrote.
    bool Ready(const bench::Bytes& answer) {
        bool ready = false;
        for (int i = 0; i < 20 && !ready; ++i) {
            WriteAll(master, answer.data(), answer.size());
            Clock::time_point at;
            ready = AwaitByte(master, ACK, at);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        uint8_t buf[256];
        for (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 0) > 0 && ::read(master, buf, sizeof buf) > 0;) {
        }
        return ready;
    }
    int master = -1;

private:
    std::string m_slavePath;
    pid_t m_pid = -1;
};

// The minimal C receiver (this program with --c-receiver): one thread, blocking reads, raw mode.
int RunCReceiver(const char* path, size_t frameLength) {
    const int fd = ::open(path, O_RDWR | O_NOCTTY);
    if (fd < 0) return 1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    uint8_t buf[80];
    size_t have = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        have += static_cast<size_t>(n);
        if (have < frameLength) continue;
        have = 0;
        const uint8_t ack = ACK;
        if (::write(fd, &ack, 1) != 1) return 1;
    }
}

// The plain Python receiver: the same, in a single-threaded Python program.
const char* const kPythonReceiver = R"(import os, sys, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
need = int(sys.argv[2])
have = 0
while True:
    b = os.read(fd, 80)
    if not b:
        break
    have += len(b)
    if have >= need:
        have = 0
        os.write(fd, b'\x06')
)";

// The least a two-thread design pays: an in-process reader thread that hands the frame to a
// second thread through a mutex and a condition variable; that thread writes the ACK.
class HandOverEcho {
public:
    explicit HandOverEcho(size_t frameLength) : m_length(frameLength) {
        zeda::OpenPtyPair(master, m_slavePath);
        m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
        m_reader = std::thread([this] { Read(); });
        m_writer = std::thread([this] { Write(); });
    }
    ~HandOverEcho() {
        {
            std::lock_guard<std::mutex> lock(m_mu);
            m_stop = true;
        }
        m_cv.notify_all();
        ::close(m_slave);  // ends the reader's poll with a hang-up
        m_reader.join();
        m_writer.join();
        ::close(master);
    }
    int master = -1;

private:
    void Read() {
        size_t have = 0;
        uint8_t buf[80];
        for (;;) {
            pollfd p{m_slave, POLLIN, 0};
            if (::poll(&p, 1, 200) < 0 && errno != EINTR) return;
            {
                std::lock_guard<std::mutex> lock(m_mu);
                if (m_stop) return;
            }
            if (!(p.revents & POLLIN)) continue;
            const ssize_t n = ::read(m_slave, buf, sizeof buf);
            if (n <= 0) continue;
            have += static_cast<size_t>(n);
            if (have < m_length) continue;
            have = 0;
            std::unique_lock<std::mutex> lock(m_mu);
            m_pending = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return !m_pending || m_stop; });
        }
    }
    void Write() {
        std::unique_lock<std::mutex> lock(m_mu);
        for (;;) {
            m_cv.wait(lock, [this] { return m_pending || m_stop; });
            if (m_stop) return;
            WriteAll(m_slave, &ACK, 1);
            m_pending = false;
            m_cv.notify_all();
        }
    }

    size_t m_length;
    std::string m_slavePath;
    int m_slave = -1;
    std::thread m_reader, m_writer;
    std::mutex m_mu;
    std::condition_variable m_cv;
    bool m_pending = false, m_stop = false;
};

void Report(const char* what, std::vector<double> v, int lost) {
    std::printf("  %-47s n %5zu  min %7.1f  median %7.1f  p90 %7.1f  p99 %8.1f  max %8.1f us%s\n", what, v.size(),
                bench::Percentile(v, 0), bench::Percentile(v, 50), bench::Percentile(v, 90), bench::Percentile(v, 99),
                bench::Percentile(v, 100), lost ? "  (some without ACK)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--c-receiver")
        return RunCReceiver(argv[2], static_cast<size_t>(std::atoi(argv[3])));
    const int frames = argc > 1 ? std::max(200, std::atoi(argv[1])) : 2000;
    int master = -1;
    std::string slave;
    if (!zeda::OpenPtyPair(master, slave)) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    char dir[] = "/tmp/kalvor-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    ::setenv("XDG_CONFIG_HOME", dir, 1);
    ::setenv("KALVOR_COM1", slave.c_str(), 1);

    std::ostringstream out;
    HeadlessHost host(out);
    bench::NullProfile profile;
    auto dlg = std::make_unique<CConsoleDlg>(host, profile, std::make_unique<CComm>(), ConsoleOptions{});
    host.Attach(dlg.get());
    dlg->OnInitDialog();
    host.Pump();
    if (!dlg->PortOpen()) {
        std::fprintf(stderr, "the console could not open %s\n", slave.c_str());
        return 1;
    }

    const bench::Bytes answer = bench::Response('F', {'0', 0x00, 0x41, 0x02});
    std::vector<double> console, cReceiver, pyReceiver, echoHandOver, warmUp;
    int lost = 0, lostC = 0, lostPy = 0, lostHandOver = 0, lostWarmUp = 0;
    std::atomic<bool> done{false};
    bool receiversReady = false;
    std::thread module([&] {
        Receiver c({"/proc/self/exe", "--c-receiver"}, answer.size());
        Receiver py({"python3", "-c", kPythonReceiver}, answer.size());
        HandOverEcho handed(answer.size());
        receiversReady = c.Ready(answer) && py.Ready(answer);
        Exchange(master, answer, 50, warmUp, lostWarmUp);
        // Round-robin, in blocks of 100 frames each, so that all see the same load. (The Status
        // pane grows by a line per answer and keeps its newest 4 MiB.)
        const int block = 100;
        for (int b = 0; b < frames / block && receiversReady; ++b) {
            Exchange(c.master, answer, block, cReceiver, lostC);
            Exchange(py.master, answer, block, pyReceiver, lostPy);
            Exchange(handed.master, answer, block, echoHandOver, lostHandOver);
            Exchange(master, answer, block, console, lost);
        }
        done = true;
    });
    host.RunUntil([&] { return done.load(); }, 3600 * 1000);
    module.join();
    dlg->OnClose();
    host.Shutdown();
    dlg.reset();
    ::close(master);
    std::filesystem::remove_all(dir);

    if (!receiversReady) {
        std::fprintf(stderr, "a receiver did not answer (is python3 there?)\n");
        return 1;
    }
    std::printf("ACK latency over a pseudo-terminal: last byte of a STATUS answer written -> ACK read\n");
    Report("minimal C receiver (one thread, blocking read)", cReceiver, lostC);
    Report("plain Python receiver (one thread)", pyReceiver, lostPy);
    Report("reader thread + hand-over to a second thread", echoHandOver, lostHandOver);
    Report("console (CComm reader, headless UI loop, link)", console, lost);
    const double median = bench::Percentile(console, 50), p99 = bench::Percentile(console, 99);
    const double cMedian = bench::Percentile(cReceiver, 50), pyMedian = bench::Percentile(pyReceiver, 50);
    std::printf("  console / C receiver: median %.2f, p99 %.2f;  console / Python receiver: median %.2f, p99 %.2f\n",
                median / cMedian, p99 / bench::Percentile(cReceiver, 99), median / pyMedian,
                p99 / bench::Percentile(pyReceiver, 99));
    std::printf("  goal: console median <= Python receiver's median: %s\n", median <= pyMedian ? "met" : "missed");
    return lost == 0 ? 0 : 1;
}
