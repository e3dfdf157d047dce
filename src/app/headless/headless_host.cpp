#include "app/headless/headless_host.h"

#include <cstdio>
#include <ctime>

#include "app/headless/script_runner.h"
#include "console/console_dlg.h"

namespace kalvor {

namespace {
int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

HeadlessHost::HeadlessHost(std::ostream& out) : m_out(out), m_startMs(NowMs()) {
    for (int64_t& d : m_due) d = -1;
}

HeadlessHost::~HeadlessHost() { Shutdown(); }

void HeadlessHost::SetTimer(int id, unsigned milliseconds) {
    if (id >= 0 && id < kTimers) m_due[id] = NowMs() + milliseconds;
}

void HeadlessHost::KillTimer(int id) {
    if (id >= 0 && id < kTimers) m_due[id] = -1;
}

int64_t HeadlessHost::MonotonicMs() { return NowMs(); }

int64_t HeadlessHost::MonotonicUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

LocalTime HeadlessHost::LocalNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void HeadlessHost::MessageBox(const std::string& text, const std::string& caption, BoxIcon) {
    // Stamped as the trace's lines on standard output: seconds since the start, to the millisecond.
    const int64_t ms = NowMs() - m_startMs;
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "[%lld.%03lld]", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    m_out << "BOX " << stamp << " " << caption << ": " << EscapeText(text) << std::endl;
}

void HeadlessHost::PostMessage(unsigned message, uintptr_t wParam) { m_posted.emplace_back(message, wParam); }

void HeadlessHost::EndDialog(int) { m_ended = true; }

void HeadlessHost::HandOver(std::function<void()> work) {
    HandOverItem item{std::move(work), false};
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_shutdown) return;
    m_handOvers.push_back(&item);
    // Woken after the lock is let go, so that the UI thread does not wake only to wait for it.
    lock.unlock();
    m_wake.notify_one();
    lock.lock();
    m_handedBack.wait(lock, [&] { return item.done || m_shutdown; });
    if (!item.done) {
        // Released by a shutdown: make sure the loop no longer holds our item.
        for (auto it = m_handOvers.begin(); it != m_handOvers.end(); ++it)
            if (*it == &item) {
                m_handOvers.erase(it);
                break;
            }
    }
}

void HeadlessHost::Interrupt(int signal) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_interrupt.load() == 0) m_interrupt = signal;
    m_wake.notify_all();
}

void HeadlessHost::Shutdown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shutdown = true;
    m_handOvers.clear();
    m_handedBack.notify_all();
}

void HeadlessHost::TraceLine(bool tx, const uint8_t* data, size_t length) {
    const int64_t ms = NowMs() - m_startMs;
    char head[48];
    std::snprintf(head, sizeof head, "[%lld.%03lld] %s", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000), tx ? "TX" : "RX");
    std::string line = head;
    char hex[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", data[i]);
        line += hex;
    }
    m_out << line << std::endl;
}

// Serves one event (a hand-over, a posted message or a due timer), waiting at most until
// `waitUntilMs` for one. Returns true when something was served.
bool HeadlessHost::ServeOne(int64_t waitUntilMs) {
    // Hand-overs first: a reader is blocked on each.
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_handOvers.empty()) {
            HandOverItem* item = m_handOvers.front();
            m_handOvers.pop_front();
            lock.unlock();
            item->work();
            lock.lock();
            item->done = true;
            lock.unlock();
            m_handedBack.notify_all();
            return true;
        }
    }
    if (!m_posted.empty()) {
        auto [message, wParam] = m_posted.front();
        m_posted.pop_front();
        if (m_dlg) m_dlg->OnPosted(message, wParam);
        return true;
    }
    const int64_t now = NowMs();
    int next = -1;
    for (int id = 0; id < kTimers; ++id)
        if (m_due[id] >= 0 && (next < 0 || m_due[id] < m_due[next])) next = id;
    if (next >= 0 && m_due[next] <= now) {
        // A timer is the last of the UI thread's work: bytes already on the line are taken in
        // first, so that a late turn of this process on a busy machine never lets a deadline pass
        // on an answer that came in time. The wait for the reader is bounded (5 x 20 ms).
        if (m_dlg && m_lateReads < kMaxLateReads && m_dlg->Comm().UnreadBytes() > 0) {
            ++m_lateReads;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(20),
                            [&] { return !m_handOvers.empty() || m_interrupt.load() != 0; });
            return true;
        }
        m_lateReads = 0;
        m_due[next] = -1;  // one-shot: stopped before it is handled
        if (m_dlg) m_dlg->OnTimer(next);
        return true;
    }
    int64_t until = waitUntilMs;
    if (next >= 0 && m_due[next] < until) until = m_due[next];
    if (until > now) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(until - now),
                        [&] { return !m_handOvers.empty() || m_interrupt.load() != 0; });
    }
    return false;
}

void HeadlessHost::Pump() {
    const int64_t now = NowMs();
    while (!m_ended && !Interrupted() && ServeOne(now)) {
    }
}

void HeadlessHost::RunFor(int64_t ms) {
    const int64_t end = NowMs() + ms;
    while (!m_ended && !Interrupted() && NowMs() < end) ServeOne(end);
    Pump();
}

bool HeadlessHost::RunUntil(const std::function<bool()>& done, int64_t limitMs) {
    const int64_t end = NowMs() + limitMs;
    Pump();
    while (!m_ended && !Interrupted()) {
        if (done()) return true;
        if (NowMs() >= end) return false;
        // Wake at least every 20 ms to look at the condition again.
        const int64_t step = std::min(end, NowMs() + 20);
        while (ServeOne(step) && !m_ended) {
        }
    }
    return done();
}

}  // namespace kalvor
