// The one QApplication of the GUI tests: offscreen, the Fusion style (the same look on every
// machine), and a configuration folder of its own so that no test reads or writes the user's.
// The offscreen desktop has the usual 800 x 600 screen first, then one screen for each size and
// scale factor the window is checked at (gui_support.h, TestScreens): "800x600@2" is an 800 x 600
// screen at a scale factor of 2, 400 x 300 logical pixels, as QT_SCALE_FACTOR=2 makes it.
#include <QApplication>
#include <QFile>
#include <QFont>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <cmath>
#include <string>

#include "gui_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        m_config = std::make_unique<QTemporaryDir>();
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if (platform == nullptr || std::string(platform) == "offscreen") {  // unless another platform is asked for
            const QString screens = m_config->filePath(QStringLiteral("screens.json"));
            QFile file(screens);
            if (file.open(QIODevice::WriteOnly)) file.write(ScreensJson().c_str());
            ::setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).toLocal8Bit().constData(), 1);
        }
        ::setenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit().constData(), 1);
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        // The desktop font the control table was laid out for (7 x 14 px): the window's scale 1.
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(12);
        QApplication::setFont(font);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override {
        m_app.reset();
        m_config.reset();
    }

private:
    static std::string ScreensJson() {
        std::string json = R"({"windowFrameMargins": false, "screens": [{"name": "default", "x": 0, "y": 0, "width": 800, "height": 600, "logicalDpi": 96})";
        int x = 800;
        for (const kalvor::guitest::TestScreen& s : kalvor::guitest::TestScreens()) {
            const int w = static_cast<int>(std::lround(s.width / s.scale)), h = static_cast<int>(std::lround(s.height / s.scale));
            json += R"(, {"name": ")" + s.Name() + R"(", "x": )" + std::to_string(x) + R"(, "y": 0, "width": )" +
                    std::to_string(w) + R"(, "height": )" + std::to_string(h) + R"(, "logicalDpi": 96, "dpr": )" +
                    std::to_string(s.scale) + "}";
            x += w;
        }
        return json + "]}";
    }

    int m_argc = 1;
    char m_name[10] = "gui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
