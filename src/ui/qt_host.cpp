#include "ui/qt_host.h"

#include <QCoreApplication>
#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include "console/console_dlg.h"

namespace kalvor {

QtHost::QtHost() : m_receiver(std::make_unique<QObject>()) { m_clock.start(); }

QtHost::~QtHost() { Shutdown(); }

void QtHost::Attach(CConsoleDlg* dlg) {
    if (dlg == nullptr) {
        m_onTimer = nullptr;
        m_onPosted = nullptr;
        return;
    }
    m_onTimer = [dlg](int id) { dlg->OnTimer(id); };
    m_onPosted = [dlg](unsigned message, uintptr_t wParam) { dlg->OnPosted(message, wParam); };
}

void QtHost::SetTimer(int id, unsigned milliseconds) {
    QTimer*& timer = m_timers[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, id] { Expired(id); });
    }
    timer->start(static_cast<int>(milliseconds));  // restarts a running timer
}

void QtHost::KillTimer(int id) {
    auto it = m_timers.find(id);
    if (it != m_timers.end()) it->second->stop();
}

bool QtHost::TimerActive(int id) const {
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

void QtHost::Expired(int id) {
    // One-shot: the timer is stopped before its handler runs, so the handler may arm it again.
    KillTimer(id);
    if (m_onTimer) m_onTimer(id);
}

int64_t QtHost::MonotonicMs() { return m_clock.elapsed(); }

int64_t QtHost::MonotonicUs() { return m_clock.nsecsElapsed() / 1000; }

LocalTime QtHost::LocalNow() {
    const QTime now = QTime::currentTime();
    return {now.hour(), now.minute(), now.second()};
}

int QtHost::BoxWidthForCaption(const QString& caption) {
    // The title in a bold desktop font, and room for an icon and three buttons of the title
    // bar's height, and the margins around them.
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QFontMetrics fm(bold);
    return fm.horizontalAdvance(caption) + 6 * fm.height();
}

void QtHost::MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    QWidget* parent = (m_boxParent && m_boxParent->isVisible()) ? m_boxParent.data() : nullptr;
    QMessageBox box(icon == BoxIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
                    parent);
    // As wide as its caption with the window manager's icon and buttons beside it: a box of a
    // short text would otherwise cut its own caption ("ERROR CODE" as "ERR...ODE").
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(BoxWidthForCaption(box.windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    // exec() runs a nested event loop: timers, posted messages and hand-overs go on meanwhile.
    box.exec();
}

void QtHost::PostMessage(unsigned message, uintptr_t wParam) {
    QMetaObject::invokeMethod(
        this,
        [this, message, wParam] {
            if (m_onPosted) m_onPosted(message, wParam);
        },
        Qt::QueuedConnection);
}

void QtHost::EndDialog(int result) {
    m_ended = true;
    for (auto& [id, timer] : m_timers) timer->stop();
    if (m_onEnd) m_onEnd(result);
}

void QtHost::HandOver(std::function<void()> work) {
    if (QThread::currentThread() == m_receiver->thread()) {
        work();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutdown) return;
        ++m_inFlight;
    }
    // Returns once the UI thread has run the work.
    QMetaObject::invokeMethod(m_receiver.get(), [&work] { work(); }, Qt::BlockingQueuedConnection);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_inFlight;
    }
    m_idle.notify_all();
}

void QtHost::Shutdown() {
    for (auto& [id, timer] : m_timers) timer->stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
    }
    // A reader may be between counting itself in and posting: serve the receiver's calls until
    // every one of them is back.
    for (;;) {
        QCoreApplication::sendPostedEvents(m_receiver.get(), QEvent::MetaCall);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_inFlight == 0) break;
        m_idle.wait_for(lock, std::chrono::milliseconds(5));
    }
}

}  // namespace kalvor
