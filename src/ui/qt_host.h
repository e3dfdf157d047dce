// QtHost: the console's host in the window. One-shot QTimers by id, the monotonic clock, the
// boxes as QMessageBox (their nested event loop keeps timers, posted messages and hand-overs
// going), posted messages as queued calls, and the reader thread's hand-over as a blocking queued
// call to an object of the UI thread.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "console/dialog_host.h"
#include "serial/comm.h"

class QTimer;
class QWidget;

namespace kalvor {

class CConsoleDlg;

class QtHost final : public QObject, public DialogHost, public RxSink {
    Q_OBJECT

public:
    // Must be made on the UI thread (the thread of the QApplication's event loop).
    QtHost();
    ~QtHost() override;

    // The dialog's handlers receive the timers and posted messages.
    void Attach(CConsoleDlg* dlg);
    // Instead of a dialog (tests): where expiries and posted messages go.
    void SetTimerHandler(std::function<void(int)> handler) { m_onTimer = std::move(handler); }
    void SetPostHandler(std::function<void(unsigned, uintptr_t)> handler) { m_onPosted = std::move(handler); }
    // Called by EndDialog (the window closes itself here).
    void SetEndHandler(std::function<void(int)> handler) { m_onEnd = std::move(handler); }
    // Boxes are centred on this window while it is visible.
    void SetBoxParent(QWidget* parent) { m_boxParent = parent; }

    // DialogHost
    void SetTimer(int id, unsigned milliseconds) override;
    void KillTimer(int id) override;
    int64_t MonotonicMs() override;
    int64_t MonotonicUs() override;
    LocalTime LocalNow() override;
    void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
    // The least width of a box with this caption: the caption whole in the title bar.
    static int BoxWidthForCaption(const QString& caption);
    void PostMessage(unsigned message, uintptr_t wParam) override;
    RxSink& Sink() override { return *this; }
    void EndDialog(int result) override;

    // RxSink: called by reader threads (or, rarely, on the UI thread itself: then it runs at once).
    void HandOver(std::function<void()> work) override;

    bool Ended() const { return m_ended; }
    bool TimerActive(int id) const;
    // Stops every timer and refuses further hand-overs; readers already waiting are released
    // after their work ran here (the dialog drops chunks of a closed port). Idempotent; also done
    // by the destructor.
    void Shutdown();

private:
    void Expired(int id);

    std::function<void(int)> m_onTimer;
    std::function<void(unsigned, uintptr_t)> m_onPosted;
    std::function<void(int)> m_onEnd;
    QPointer<QWidget> m_boxParent;
    std::map<int, QTimer*> m_timers;  // children of this object
    QElapsedTimer m_clock;
    bool m_ended = false;

    // Hand-overs in flight: a reader counts itself in before it posts, so that Shutdown can wait
    // for it while serving the posted calls.
    std::unique_ptr<QObject> m_receiver;  // lives on the UI thread; target of the hand-overs
    std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_inFlight = 0;
    bool m_shutdown = false;
};

}  // namespace kalvor
