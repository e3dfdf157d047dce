// The headless automation interface: one operator action per line.
//
//   tab N | set ID TEXT | check ID | uncheck ID | click ID | wait MS | wait idle [MS] |
//   print message | print status | print ID | print visible | print disabled | quit
//
// '#' starts a comment. A hidden or disabled control cannot be typed into, ticked or clicked.
#pragma once

#include <istream>
#include <ostream>
#include <string>

namespace kalvor {

class CConsoleDlg;
class HeadlessHost;

class ScriptRunner {
public:
    ScriptRunner(CConsoleDlg& dlg, HeadlessHost& host, std::ostream& out, std::ostream& err)
        : m_dlg(dlg), m_host(host), m_out(out), m_err(err) {}

    // Runs the script to its end, "quit" or the end of the dialog. Returns 0, or 1 for a script
    // error (reported on `err` with its line number).
    int Run(std::istream& script);
    // One line; returns false (and reports) on a script error. Sets `quit` on "quit".
    bool Execute(const std::string& line, int lineNumber, bool& quit);

private:
    bool Fail(int lineNumber, const std::string& why);

    CConsoleDlg& m_dlg;
    HeadlessHost& m_host;
    std::ostream& m_out;
    std::ostream& m_err;
};

}  // namespace kalvor
