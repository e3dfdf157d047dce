// DialogHost: everything the window platform does for the console dialog. The Qt host, the
// headless host and the test host (virtual clock) implement it; the console core never touches
// a window system, a real clock or a thread of its own.
#pragma once

#include <cstdint>
#include <string>

namespace kalvor {

class RxSink;

enum class BoxIcon { Stop, Exclamation };

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Messages the dialog posts to itself.
enum : unsigned {
    kWmFrameRaw = 0x0403,  // WM_USER+3: wParam = length of an unfinished frame
};

class DialogHost {
public:
    virtual ~DialogHost() = default;

    // One-shot timers by id; arming a running timer restarts it. An expiry calls
    // CConsoleDlg::OnTimer(id) on the UI thread.
    virtual void SetTimer(int id, unsigned milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    // Monotonic clock in milliseconds and the local time of day.
    virtual int64_t MonotonicMs() = 0;
    virtual LocalTime LocalNow() = 0;
    // The same monotonic clock in microseconds, and the wall clock (microseconds since
    // 1970-01-01 UTC), for the records of a run.
    virtual int64_t MonotonicUs() { return MonotonicMs() * 1000; }
    virtual int64_t WallClockUs();

    // A modal box with one OK button; returns when the operator has closed it. While it is open
    // the host goes on serving timers, posted messages and hand-overs that do not come from the
    // handler that opened it.
    virtual void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) = 0;

    // Runs CConsoleDlg::OnPosted(message, wParam) later on the UI thread.
    virtual void PostMessage(unsigned message, uintptr_t wParam) = 0;

    // The synchronous hand-over from the channel's reader thread.
    virtual RxSink& Sink() = 0;

    // The dialog ended ("EXIT" or the close box).
    virtual void EndDialog(int result) = 0;
};

}  // namespace kalvor
