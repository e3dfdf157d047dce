// What the bench shows while it runs. On a terminal that can (standard output a terminal, TERM not
// "dumb") a table, one line per module, redrawn in place at most twice a second and cut to the
// terminal's width; otherwise plain module-tagged lines (state changes, and with --progress one
// per cycle); with --quiet nothing. Anything else printed (on standard output or standard error)
// goes through Say(), which clears the table first, so a line never sticks to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_file.h"
#include "bench/bench_options.h"
#include "bench/module_status.h"

namespace kalvor::bench {

class LiveDisplay {
public:
    LiveDisplay(const std::vector<BenchModule>& modules, Display mode);
    ~LiveDisplay();

    bool Table() const { return m_table; }
    // Whether a redraw is due (the table is shown and its last drawing is 500 ms old).
    bool Due(int64_t nowMs) const { return m_table && (m_lastDrawMs < 0 || nowMs - m_lastDrawMs >= 500); }
    // The statuses changed; the table is redrawn when the last drawing is 500 ms old (`force`: now).
    void Update(const std::vector<ModuleStatus>& statuses, int64_t nowMs, bool force = false);
    // The bench has ended: the table is drawn a last time and left standing.
    void Finish(const std::vector<ModuleStatus>& statuses, int64_t nowMs);
    // A module-tagged plain line (state changes): not shown with the table or --quiet.
    void Plain(const std::string& name, const std::string& text);
    // A line of --progress.
    void Progress(const std::string& name, const std::string& text);
    // A line that is always shown, on standard output (fd 1) or standard error (fd 2).
    void Say(int fd, const std::string& line);

    // The table's text as drawn for `width` columns and `rows` lines (for the tests and Update).
    std::vector<std::string> Lines(const std::vector<ModuleStatus>& statuses, size_t width, size_t rows) const;

private:
    void Erase();

    const std::vector<BenchModule>& m_modules;
    Display m_mode;
    bool m_table = false;
    size_t m_drawn = 0;         // lines of the table standing on the terminal
    int64_t m_lastDrawMs = -1;
    std::vector<ModuleStatus> m_last;
};

}  // namespace kalvor::bench
