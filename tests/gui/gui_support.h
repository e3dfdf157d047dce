// What the GUI tests share: a closer for the message boxes, waiting with generous limits, and a
// console session in its window (with its profile in memory), driven as an operator drives it.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/headless/app_options.h"
#include "support/test_host.h"
#include "ui/window_session.h"

namespace kalvor::guitest {

// The screens of the offscreen desktop besides its first (gui_environment.cpp): every size the
// window is checked at, times every scale factor, and one too small for the window to stay
// readable.
struct TestScreen {
    int width, height;  // device pixels
    double scale;       // as QT_SCALE_FACTOR gives it
    std::string Name() const {
        char scaleText[16];
        std::snprintf(scaleText, sizeof scaleText, "%g", scale);
        return std::to_string(width) + "x" + std::to_string(height) + "@" + scaleText;
    }
};
inline std::vector<TestScreen> TestScreens() {
    std::vector<TestScreen> screens;
    for (QSize size : {QSize(1280, 1024), QSize(1024, 768), QSize(800, 600)})
        for (double scale : {1.0, 1.5, 2.0}) screens.push_back({size.width(), size.height(), scale});
    screens.push_back({640, 400, 2.0});
    return screens;
}

// Limits are generous: the test machine is shared and slow at times.
inline bool WaitFor(const std::function<bool()>& done, int limitMs = 20000) { return QTest::qWaitFor(done, limitMs); }

struct SeenBox {
    std::string caption, text;
    QMessageBox::Icon icon;
    int width;
};

// Watches for modal message boxes and closes each with OK, as an operator would, unless `keepOpen`
// (checked while the box runs its loop) says to wait. Records what it closed.
class BoxCloser {
public:
    BoxCloser() {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { Look(); });
        m_poll.start();
    }
    std::function<bool()> keepOpen;
    const std::vector<SeenBox>& Seen() const { return m_seen; }

private:
    void Look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || (keepOpen && keepOpen())) return;
        m_seen.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon(), box->width()});
        box->button(QMessageBox::Ok)->click();
    }
    QTimer m_poll;
    std::vector<SeenBox> m_seen;
};

// A console in its window, started as RunWindow starts it, with boxes closed by a BoxCloser.
// Without --simulate, COM1 points at a device that does not exist, so the start-up open fails.
class Console {
public:
    explicit Console(AppOptions options = {}) {
        if (options.simulate < 0) ::setenv("KALVOR_COM1", "/nonexistent/kalvor-gui-test-port", 1);
        session = std::make_unique<WindowSession>(options, &profile);
        prepared = session->Prepare(prepareError);
        if (prepared) session->Start();
    }
    ~Console() { session->Close(); }

    CConsoleDlg& dlg() { return session->Dialog(); }
    ControlTable& table() { return session->Dialog().Controls(); }
    ConsoleWindow& window() { return session->Window(); }
    QWidget* widget(int id) { return session->Window().Widget(id); }
    template <class W>
    W* as(int id) {
        return qobject_cast<W*>(widget(id));
    }

    void ClickTab(int index) {
        QTabBar* bar = window().TabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }
    // Where the operator clicks: the indicator of a check box or radio, the middle of anything else.
    void Click(int id) {
        QWidget* w = widget(id);
        ASSERT_NE(w, nullptr) << id;
        const bool indicator = qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr;
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, indicator ? QPoint(6, w->height() / 2) : w->rect().center());
    }
    // Types over the whole text of an edit.
    void Type(int id, const char* text) {
        auto* edit = as<QLineEdit>(id);
        ASSERT_NE(edit, nullptr) << id;
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromLatin1(text));
    }

    test::MemoryProfile profile;
    BoxCloser boxes;
    std::unique_ptr<WindowSession> session;
    bool prepared = false;
    std::string prepareError;
};

}  // namespace kalvor::guitest
