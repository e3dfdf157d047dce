// SIGINT, SIGTERM and SIGHUP (the terminal or the session that started the window went away) end
// the window as its close box does: the signal handler only writes the
// signal's number into a pipe; a socket notifier on the other end reads it on the UI thread.
// Message boxes open at that moment (or opened by the handlers they return to) are closed as OK
// closes them, then the callback closes the window, so that the dialog's OnClose runs from the
// event loop as after a click on the close box, and the files are flushed by the ordinary way
// out. After the first signal the previous dispositions are back: a second one ends the process
// at once should the orderly close hang.
#pragma once

#include <QObject>
#include <QTimer>

#include <csignal>
#include <functional>

class QSocketNotifier;

namespace kalvor {

class SignalCloser final : public QObject {
    Q_OBJECT

public:
    // Catches SIGINT, SIGTERM and SIGHUP from now on; `closeWindow` runs on the UI thread with the
    // signal's number once no message box is open any more. One instance at a time.
    explicit SignalCloser(std::function<void(int)> closeWindow, QObject* parent = nullptr);
    ~SignalCloser() override;
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

    // The signal that came, 0 for none.
    int Signal() const { return m_signal; }
    // 128 + the signal when one came, otherwise `otherwise`.
    int ExitStatus(int otherwise) const { return m_signal != 0 ? 128 + m_signal : otherwise; }

private:
    void Read();
    void Restore();
    void CloseStep();

    std::function<void(int)> m_closeWindow;
    QTimer m_closing;
    int m_pipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    struct sigaction m_oldHup {};
    bool m_installed = false;
    int m_signal = 0;
};

}  // namespace kalvor
