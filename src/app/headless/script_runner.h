// The headless automation interface: one operator action per line.
//
//   tab N|NAME | set CONTROL TEXT | check CONTROL | uncheck CONTROL | click CONTROL |
//   wait MS | wait idle [MS] | wait run [MS] | burn N |
//   print message | print status | print visible | print disabled | print names |
//   print CONTROL | quit
//
// CONTROL is a control id of the template or a name of a control visible on the current page (its
// caption; an edit's label), in double quotes when it holds blanks. MS is 0 ... 2147483647.
// '#' starts a comment (outside quotes and the text of `set`). A hidden or disabled control
// cannot be typed into, ticked or clicked.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

namespace kalvor {

class CConsoleDlg;
class ScriptHost;
struct Control;

// CR, LF and backslash written as \r, \n and \\.
std::string EscapeText(const std::string& text);

// The longest wait a script may ask for, in milliseconds.
constexpr int64_t kMaxScriptWaitMs = 2147483647;

class ScriptRunner {
public:
    ScriptRunner(CConsoleDlg& dlg, ScriptHost& host, std::ostream& out, std::ostream& err)
        : m_dlg(dlg), m_host(host), m_out(out), m_err(err) {}

    // Runs the script to its end, "quit" or the end of the dialog. Returns 0, or 1 for a script
    // error (reported on `err` with its line number).
    int Run(std::istream& script);
    // One line; returns false (and reports) on a script error. Sets `quit` on "quit".
    bool Execute(const std::string& line, int lineNumber, bool& quit);

private:
    bool Fail(int lineNumber, const std::string& why);
    // The control a script word stands for: a template id, or a name on the current page.
    bool Resolve(int lineNumber, const std::string& word, bool quoted, Control*& control);
    bool Wait(int lineNumber, const std::string& line, size_t& pos);
    bool Print(int lineNumber, const std::string& line, size_t& pos);
    void PrintNames();

    CConsoleDlg& m_dlg;
    ScriptHost& m_host;
    std::ostream& m_out;
    std::ostream& m_err;
};

// Why `path` cannot serve as a script (missing, a folder, unreadable), or empty when it can.
std::string ScriptFileProblem(const std::string& path);

}  // namespace kalvor
