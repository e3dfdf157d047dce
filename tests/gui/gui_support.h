// What the GUI tests share: the application (offscreen), a profile in memory, a closer for the
// message boxes, waiting with generous limits, and a console session in its window.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/headless/app_options.h"
#include "console/profile.h"
#include "ui/window_session.h"

namespace kalvor::guitest {

// Limits are generous: the test machine is shared and slow at times.
constexpr int kPatienceMs = 20000;

inline bool WaitFor(const std::function<bool()>& done, int limitMs = kPatienceMs) {
    return QTest::qWaitFor(done, limitMs);
}

class MemoryProfile final : public Profile {
public:
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback = "") override {
        auto it = values.find(section + "/" + key);
        return it == values.end() ? fallback : it->second;
    }
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) override {
        values[section + "/" + key] = value;
        return true;
    }
    std::map<std::string, std::string> values;  // "SECTION/KEY"
};

struct SeenBox {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon;
};

// Watches for modal message boxes and closes each with OK, as an operator would, after it has
// been open for `holdMs` (so that the box's own event loop really runs). Records what it closed.
class BoxCloser {
public:
    explicit BoxCloser(int holdMs = 0) : m_holdMs(holdMs) {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { Look(); });
        m_poll.start();
    }
    // When set, a box stays open until this returns true (checked while the box runs its loop).
    void HoldWhile(std::function<bool()> keepOpen) { m_keepOpen = std::move(keepOpen); }

    const std::vector<SeenBox>& Seen() const { return m_seen; }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const SeenBox& b : m_seen) texts.push_back(b.text);
        return texts;
    }

private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            m_current = nullptr;
            return;
        }
        if (box != m_current) {
            m_current = box;
            m_openedMs = Now();
        }
        if (Now() - m_openedMs < m_holdMs) return;
        if (m_keepOpen && m_keepOpen()) return;
        m_seen.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
        m_current = nullptr;
        box->button(QMessageBox::Ok)->click();
    }
    static qint64 Now() {
        static QElapsedTimer clock = [] {
            QElapsedTimer t;
            t.start();
            return t;
        }();
        return clock.elapsed();
    }

    QTimer m_poll;
    int m_holdMs;
    std::function<bool()> m_keepOpen;
    QMessageBox* m_current = nullptr;
    qint64 m_openedMs = 0;
    std::vector<SeenBox> m_seen;
};

// A console in its window, started as RunWindow starts it, with boxes closed by a BoxCloser.
// Without --simulate, COM1 points at a device that does not exist, so the start-up open fails.
class Console {
public:
    explicit Console(AppOptions options = {}, std::string port = "") {
        if (options.simulate < 0) ::setenv("KALVOR_COM1", "/nonexistent/kalvor-gui-test-port", 1);
        if (!port.empty()) profile.values["KALVOR/PORT"] = port;
        session = std::make_unique<WindowSession>(options, &profile);
        std::string error;
        prepared = session->Prepare(error);
        prepareError = error;
        if (prepared) session->Start();
    }
    ~Console() { session->Close(); }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    CConsoleDlg& dlg() { return session->Dialog(); }
    ControlTable& table() { return session->Dialog().Controls(); }
    ConsoleWindow& window() { return session->Window(); }
    QWidget* widget(int id) { return session->Window().Widget(id); }
    template <class W>
    W* as(int id) {
        return qobject_cast<W*>(widget(id));
    }

    MemoryProfile profile;
    BoxCloser boxes;
    std::unique_ptr<WindowSession> session;
    bool prepared = false;
    std::string prepareError;
};

}  // namespace kalvor::guitest
