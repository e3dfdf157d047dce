// The one QApplication of the GUI tests: offscreen, the Fusion style (the same look on every
// machine), and a configuration folder of its own so that no test reads or writes the user's.
#include <QApplication>
#include <QFont>
#include <QStyleFactory>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // unless another platform is asked for
        m_config = std::make_unique<QTemporaryDir>();
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
    int m_argc = 1;
    char m_name[10] = "gui_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
