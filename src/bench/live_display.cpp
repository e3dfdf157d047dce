#include "bench/live_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kalvor::bench {

namespace {

constexpr int64_t kRedrawMs = 500;

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed terminal or pipe: nothing to show it on
        done += static_cast<size_t>(n);
    }
}

std::string Pad(std::string s, size_t width, bool right = false) {
    if (s.size() >= width) return s;
    return right ? std::string(width - s.size(), ' ') + s : s + std::string(width - s.size(), ' ');
}

}  // namespace

LiveDisplay::LiveDisplay(const std::vector<BenchModule>& modules, Display mode) : m_modules(modules), m_mode(mode) {
    const char* term = std::getenv("TERM");
    m_table = mode == Display::Auto && ::isatty(STDOUT_FILENO) && term != nullptr && std::strcmp(term, "dumb") != 0;
}

LiveDisplay::~LiveDisplay() = default;

std::vector<std::string> LiveDisplay::Lines(const std::vector<ModuleStatus>& st, size_t width, size_t rows) const {
    size_t nameWidth = 6;
    for (const BenchModule& m : m_modules) nameWidth = std::max(nameWidth, m.name.size());
    auto row = [&](const std::string& name, const std::string& state, const std::string& cycle, const std::string& d,
                   const std::string& r, const std::string& e, const std::string& g, const std::string& ms,
                   const std::string& port) {
        std::string line = Pad(name, nameWidth) + "  " + Pad(state, 7) + "  " + Pad(cycle, 11, true) + "  " +
                           Pad(d, 9, true) + "  " + Pad(r, 8, true) + "  " + Pad(e, 6, true) + "  " + Pad(g, 8, true) +
                           "  " + Pad(ms, 9, true) + "  " + port;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (line.size() > width) line.resize(width);
        return line;
    };
    std::vector<std::string> lines;
    lines.push_back(row("module", "state", "cycle", "dispensed", "rejected", "errors", "give-ups", "answer ms", "port"));
    // When the terminal is shorter than the table, the last line counts the modules not shown.
    const size_t maxLines = rows > 1 ? rows - 1 : 1;  // the cursor's line stays free
    const size_t shown = st.size() + 1 <= maxLines ? st.size() : (maxLines >= 3 ? maxLines - 2 : 0);
    for (size_t i = 0; i < shown; ++i) {
        const ModuleStatus& s = st[i];
        const bool started = s.cycles > 0 || s.planned > 0;
        lines.push_back(row(m_modules[i].name, StateName(s.state),
                            started ? std::to_string(s.cycles) + " of " + std::to_string(s.planned) : "-",
                            std::to_string(s.dispensed), std::to_string(s.rejected), std::to_string(s.moduleErrors),
                            std::to_string(s.linkGiveUps), s.lastAnswerMs.empty() ? "-" : s.lastAnswerMs,
                            m_modules[i].path));
    }
    if (shown < st.size()) {
        unsigned count[4] = {0, 0, 0, 0};
        for (size_t i = shown; i < st.size(); ++i) ++count[static_cast<int>(st[i].state)];
        std::string more = "... " + std::to_string(st.size() - shown) + " more:";
        for (ModuleState s : {ModuleState::Waiting, ModuleState::Running, ModuleState::Done, ModuleState::Failed})
            more += " " + std::to_string(count[static_cast<int>(s)]) + " " + StateName(s);
        if (more.size() > width) more.resize(width);
        lines.push_back(more);
    }
    return lines;
}

void LiveDisplay::Erase() {
    if (m_drawn == 0) return;
    WriteAll(STDOUT_FILENO, "\r\x1b[" + std::to_string(m_drawn) + "A\x1b[J");
    m_drawn = 0;
}

void LiveDisplay::Update(const std::vector<ModuleStatus>& statuses, int64_t nowMs, bool force) {
    if (!m_table) return;
    m_last = statuses;
    if (!force && m_lastDrawMs >= 0 && nowMs - m_lastDrawMs < kRedrawMs) return;
    winsize ws{};
    size_t width = 80, rows = 24;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        width = ws.ws_col;
        rows = ws.ws_row > 3 ? ws.ws_row : 24;
    }
    std::string text;
    if (m_drawn > 0) text += "\r\x1b[" + std::to_string(m_drawn) + "A";
    const std::vector<std::string> lines = Lines(statuses, width, rows);
    for (const std::string& line : lines) text += "\x1b[K" + line + "\n";
    text += "\x1b[J";  // a shorter table than before leaves nothing below it
    WriteAll(STDOUT_FILENO, text);
    m_drawn = lines.size();
    m_lastDrawMs = nowMs;
}

void LiveDisplay::Finish(const std::vector<ModuleStatus>& statuses, int64_t nowMs) {
    if (!m_table) return;
    Update(statuses, nowMs, true);
    // The last table stays; what follows is printed below it.
    m_drawn = 0;
    m_table = false;
    m_mode = Display::Quiet;
}

void LiveDisplay::Plain(const std::string& name, const std::string& text) {
    if (m_table || m_mode == Display::Quiet) return;
    WriteAll(STDOUT_FILENO, name + ": " + text + "\n");
}

void LiveDisplay::Progress(const std::string& name, const std::string& text) {
    if (m_mode != Display::Progress) return;
    WriteAll(STDOUT_FILENO, name + ": " + text + "\n");
}

void LiveDisplay::Say(int fd, const std::string& line) {
    // The table is taken away, the line written, and the table drawn again below it.
    const bool redraw = m_drawn > 0;
    Erase();
    WriteAll(fd, line + "\n");
    if (redraw) {
        const int64_t last = m_lastDrawMs;
        Update(m_last, last, true);
        m_lastDrawMs = last;
    }
}

}  // namespace kalvor::bench
