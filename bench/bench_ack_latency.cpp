// From the last byte of a response arriving to the console's ACK leaving: the console runs as in
// `kalvor-tp --headless` (the real CComm with its reader thread, the headless host's UI loop, the
// link, the decoders) on the slave side of a pseudo-terminal; this program plays the module on
// the master side. For every frame it writes all bytes of a "STATUS" answer but the last, lets the
// console take them in, then stamps the clock, writes the last byte and waits for the ACK; the
// time until the ACK can be read is one sample. The figure includes both pseudo-terminal hops, the
// reader thread's wake-up and hand-over to the UI thread, the BCC check and the write.
//
// Two baselines run in the same program, in blocks taking turns with the console's so that all
// three see the same load on the machine: an echo thread that writes the ACK itself as soon as it
// has read the frame (what the pseudo-terminal and one wake-up cost), and the same with the ACK
// written by a second thread after a hand-over through a mutex and a condition variable (what
// the console's two-thread design costs at the least).
//
//   bench_ack_latency [FRAMES]      (default 2000 of each)
#include <fcntl.h>
#include <poll.h>
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

// The baselines' far end: reads until a whole frame is in, then writes ACK, on the reading thread
// or (handOver) on a second thread that is woken through a condition variable.
class Echo {
public:
    Echo(size_t frameLength, bool handOver) : m_length(frameLength), m_handOver(handOver) {
        zeda::OpenPtyPair(master, m_slavePath);
        m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
        m_reader = std::thread([this] { Read(); });
        if (m_handOver) m_writer = std::thread([this] { Write(); });
    }
    ~Echo() {
        {
            std::lock_guard<std::mutex> lock(m_mu);
            m_stop = true;
        }
        m_cv.notify_all();
        ::close(m_slave);  // ends the reader's poll with a hang-up
        m_reader.join();
        if (m_writer.joinable()) m_writer.join();
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
            if (!m_handOver) {
                WriteAll(m_slave, &ACK, 1);
                continue;
            }
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
    bool m_handOver;
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
    std::vector<double> console, echo, echoHandOver, warmUp;
    int lost = 0, lostEcho = 0, lostHandOver = 0, lostWarmUp = 0;
    std::atomic<bool> done{false};
    std::thread module([&] {
        Echo direct(answer.size(), false), handed(answer.size(), true);
        Exchange(master, answer, 50, warmUp, lostWarmUp);
        const int block = 100;
        for (int b = 0; b < frames / block; ++b) {
            Exchange(direct.master, answer, block, echo, lostEcho);
            Exchange(handed.master, answer, block, echoHandOver, lostHandOver);
            Exchange(master, answer, block, console, lost);
            // The Status pane grows by a line per answer: the operator clears it now and then.
            if (b % 5 == 4) dlg->Controls().UserSetText(1004, std::string());
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

    std::printf("ACK latency over a pseudo-terminal: last byte of a STATUS answer written -> ACK read\n");
    Report("echo thread (pseudo-terminal and one wake-up)", echo, lostEcho);
    Report("echo with a hand-over to a second thread", echoHandOver, lostHandOver);
    Report("console (CComm reader, headless UI loop, link)", console, lost);
    const double median = bench::Percentile(console, 50), p99 = bench::Percentile(console, 99);
    std::printf("  one byte at 38400 baud: 260.4 us; goal for the console: median <= 100 us, p99 <= 1000 us: %s\n",
                median <= 100 && p99 <= 1000 ? "met" : "missed");
    return lost == 0 ? 0 : 1;
}
