// The profile file: nothing else in it changes, two processes writing at once lose no key, and a
// profile that cannot be read, a read-only folder, a symlink and the file's mode and owner are
// handled; a failed write is told in the Message pane.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "console/profile.h"
#include "support/test_host.h"

namespace kalvor::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A fresh folder, removed with everything in it.
struct TempFolder {
    TempFolder() {
        char name[] = "/tmp/kalvor-profile-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// Runs `body` in a child process, as the unprivileged user "nobody" when the test runs as root
// (root reads and writes whatever the modes say). The child's exit status is the result: 0 for
// success, else the failed check's number.
int AsUnprivileged(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

TEST(Profile, KeepsEverythingElse) {
    struct Case {
        const char* before;
        const char* section;
        const char* key;
        const char* after;
    } cases[] = {
        {"; mine\n[COMPORTS]\nCOM1=/dev/ttyUSB0\n\n[KALVOR]\n# port\nPORT=1\nX=y\n", "KALVOR", "PORT",
         "; mine\n[COMPORTS]\nCOM1=/dev/ttyUSB0\n\n[KALVOR]\n# port\nPORT=3\nX=y\n"},
        {"[kalvor]\r\nport = 1\r\n[Z]\r\nA=1\r\n", "KALVOR", "PORT", "[kalvor]\nPORT=3\n[Z]\nA=1\n"},
        {"[KALVOR]\nX=y\n\n[Z]\nA=1\n", "KALVOR", "PORT", "[KALVOR]\nX=y\nPORT=3\n\n[Z]\nA=1\n"},
        {"[Z]\nA=1", "KALVOR", "PORT", "[Z]\nA=1\n\n[KALVOR]\nPORT=3\n"},
        {"", "KALVOR", "PORT", "[KALVOR]\nPORT=3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        TempFolder dir;
        const std::string path = dir / "kalvor-tp.ini";
        if (*c.before) WriteFile(path, c.before);
        IniProfile profile(path);
        ASSERT_TRUE(profile.WriteString(c.section, c.key, "3")) << profile.LastError();
        EXPECT_EQ(ReadFile(path), c.after);
        EXPECT_EQ(profile.GetString(c.section, c.key), "3");
    }
}

TEST(Profile, TwoProcessesWritingAtOnceLoseNoKey) {
    TempFolder dir;
    const std::string path = dir / "kalvor-tp.ini";
    WriteFile(path, "; kept\n[COMPORTS]\nCOM1=/dev/ttyUSB0\n");
    constexpr int kWrites = 300;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        if (children[p] == 0) {
            IniProfile profile(path);
            for (int i = 0; i < kWrites; ++i)
                if (!profile.WriteString("KALVOR", "P" + std::to_string(p) + "_" + std::to_string(i), "v"))
                    ::_exit(1);
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    IniProfile profile(path);
    int missing = 0;
    for (int p = 0; p < 2; ++p)
        for (int i = 0; i < kWrites; ++i)
            missing += profile.GetString("KALVOR", "P" + std::to_string(p) + "_" + std::to_string(i)) != "v";
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(profile.GetString("COMPORTS", "COM1"), "/dev/ttyUSB0");
    EXPECT_EQ(ReadFile(path).rfind("; kept\n[COMPORTS]\nCOM1=/dev/ttyUSB0\n", 0), 0u);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path)) files += e.path().filename() != "kalvor-tp.ini.lock";
    EXPECT_EQ(files, 1);
}

TEST(Profile, UnreadableProfileAndReadOnlyFolderAreNeverWritten) {
    struct Case {
        const char* name;
        fs::perms fileMode, folderMode;
        const char* reason;
    } cases[] = {
        {"unreadable profile", fs::perms::none, fs::perms::all, "cannot be read: Permission denied"},
        {"read-only folder", fs::perms::all, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                                 fs::perms::others_exec | fs::perms::group_read |
                                                 fs::perms::group_exec,
         "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        const std::string path = dir / "kalvor-tp.ini";
        const std::string before = "[COMPORTS]\nCOM2=/dev/ttyACM0\n[KALVOR]\nPORT=2\n";
        WriteFile(path, before);
        fs::permissions(path, c.fileMode);
        fs::permissions(dir.path, c.folderMode);
        const std::string reason = c.reason;
        const int result = AsUnprivileged([&] {
            IniProfile profile(path);
            if (profile.WriteString("KALVOR", "PORT", "4")) return 1;
            if (profile.LastError().find(reason) == std::string::npos) return 2;
            // Reading says why too, when the file itself cannot be read.
            const bool readable = profile.GetString("KALVOR", "PORT") == "2";
            return readable == profile.LastError().empty() ? 0 : 3;
        });
        EXPECT_EQ(result, 0);
        fs::permissions(dir.path, fs::perms::owner_all);
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(fs::status(path).permissions(), c.fileMode);
    }
}

TEST(Profile, SymlinkModeAndOwnerKept) {
    TempFolder dir;
    fs::create_directory(dir / "dotfiles");
    const std::string real = dir / "dotfiles/kalvor-tp.ini";
    const std::string link = dir / "kalvor-tp.ini";
    WriteFile(real, "[KALVOR]\nPORT=1\n");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("dotfiles/kalvor-tp.ini", link);  // relative, from the link's own folder
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(real.c_str(), kNobody, kNobody), 0);
    }

    IniProfile profile(link);
    ASSERT_TRUE(profile.WriteString("KALVOR", "PORT", "2")) << profile.LastError();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), "[KALVOR]\nPORT=2\n");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNobody);
    }

    // A link to a file not made yet: the file is made where it points.
    const std::string dangling = dir / "new.ini";
    fs::create_symlink(dir / "dotfiles/new.ini", dangling);
    IniProfile fresh(dangling);
    ASSERT_TRUE(fresh.WriteString("KALVOR", "PORT", "3")) << fresh.LastError();
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(ReadFile(dir / "dotfiles/new.ini"), "[KALVOR]\nPORT=3\n");
}

class RefusingProfile final : public Profile {
public:
    std::string GetString(const std::string&, const std::string&, const std::string& fallback) override {
        return fallback;
    }
    bool WriteString(const std::string&, const std::string&, const std::string&) override { return false; }
    std::string LastError() const override { return "/home/u/.config/kalvor-tp.ini cannot be read: Permission denied"; }
};

TEST(Profile, TroubleIsToldInTheMessagePane) {
    TestHost host;
    RefusingProfile profile;
    auto channel = std::make_unique<FakeChannel>();
    CConsoleDlg dlg(host, profile, std::move(channel));
    host.Attach(&dlg);
    dlg.OnInitDialog();
    dlg.Controls().SetTabSelection(2);
    dlg.OnSelChangeTab();
    dlg.Controls().UserClick(1007);
    dlg.OnCommand(1007);
    dlg.OnCommand(1020);  // "OK"
    EXPECT_EQ(dlg.Controls().Text(1003),
              "The remembered port was not read: /home/u/.config/kalvor-tp.ini cannot be read: Permission denied\r\n"
              "Com Port 1 is opened\r\nCOM2 was not remembered: /home/u/.config/kalvor-tp.ini cannot be read: "
              "Permission denied\r\n");
}

}  // namespace
}  // namespace kalvor::test
