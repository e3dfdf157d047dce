// SIGINT and SIGTERM end the window as its close box does: the signal handler only writes the
// signal's number into a pipe; a socket notifier on the other end reads it on the UI thread and
// calls back, so that the dialog's OnClose runs and the files are flushed by the ordinary way out.
// After the first signal the previous dispositions are back: a second one ends the process at
// once should the orderly close hang.
#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

namespace kalvor {

class SignalCloser final : public QObject {
    Q_OBJECT

public:
    // Catches SIGINT and SIGTERM from now on; `onSignal` runs on the UI thread with the signal's
    // number. One instance at a time.
    explicit SignalCloser(std::function<void(int)> onSignal, QObject* parent = nullptr);
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

    std::function<void(int)> m_onSignal;
    int m_pipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    bool m_installed = false;
    int m_signal = 0;
};

}  // namespace kalvor
