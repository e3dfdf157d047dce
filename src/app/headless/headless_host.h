// The headless host: runs the console with no display. One thread is the UI thread (the caller
// of Run*); timers are real, boxes are printed as "BOX [SECONDS.mmm] CAPTION: TEXT" and closed
// with OK at once, and the channel's reader threads hand their chunks over through a queue.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "app/headless/script_host.h"
#include "console/dialog_host.h"
#include "serial/comm.h"

namespace kalvor {

class CConsoleDlg;

class HeadlessHost final : public DialogHost, public RxSink, public ScriptHost {
public:
    explicit HeadlessHost(std::ostream& out);
    ~HeadlessHost() override;

    void Attach(CConsoleDlg* dlg) { m_dlg = dlg; }

    // DialogHost
    void SetTimer(int id, unsigned milliseconds) override;
    void KillTimer(int id) override;
    int64_t MonotonicMs() override;
    int64_t MonotonicUs() override;
    LocalTime LocalNow() override;
    void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
    void PostMessage(unsigned message, uintptr_t wParam) override;
    RxSink& Sink() override { return *this; }
    void EndDialog(int result) override;

    // RxSink (reader threads)
    void HandOver(std::function<void()> work) override;

    // The UI loop: serve hand-overs, posted messages and timers for `ms` milliseconds, or until
    // `done` is true (checked after every event) or the limit passes. Returns done's last value.
    void RunFor(int64_t ms) override;
    bool RunUntil(const std::function<bool()>& done, int64_t limitMs) override;
    // Serve whatever is due now without waiting.
    void Pump() override;

    bool Ended() const override { return m_ended; }
    // From any thread (the signal watcher): the session is to end; every wait returns at once.
    void Interrupt(int signal);
    int Interrupted() const override { return m_interrupt.load(); }
    void SetPortWait(int seconds) { m_portWaitS = seconds; }
    int PortWaitS() const override { return m_portWaitS; }
    // Script lines go to `noter` (the trace), if any.
    void NoteAction(const std::string& line) override {
        if (m_actionNoter) m_actionNoter(line);
    }
    void SetActionNoter(std::function<void(const std::string&)> noter) { m_actionNoter = std::move(noter); }
    // Stop serving hand-overs; waiting readers are released without running their work.
    void Shutdown();

    // "[SECONDS.mmm] TX 04 50 ..." for every write and received chunk.
    void TraceLine(bool tx, const uint8_t* data, size_t length);
    int64_t StartMs() const { return m_startMs; }

private:
    struct HandOverItem {
        std::function<void()> work;
        bool done = false;
    };
    static constexpr int kTimers = 8;
    static constexpr int kMaxLateReads = 5;

    bool ServeOne(int64_t waitUntilMs);

    std::ostream& m_out;
    CConsoleDlg* m_dlg = nullptr;
    int64_t m_startMs = 0;
    int64_t m_due[kTimers];
    std::deque<std::pair<unsigned, uintptr_t>> m_posted;

    std::mutex m_mutex;
    std::condition_variable m_wake;       // the UI loop waits here
    std::condition_variable m_handedBack; // readers wait here
    std::deque<HandOverItem*> m_handOvers;
    bool m_shutdown = false;
    bool m_ended = false;
    int m_portWaitS = -1;
    std::atomic<int> m_interrupt{0};
    std::function<void(const std::string&)> m_actionNoter;
    int m_lateReads = 0;  // waits for the reader before the timer now due
};

}  // namespace kalvor
