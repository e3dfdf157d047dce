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
// cannot be typed into, ticked or clicked. `wait run` without MS waits as long as the run goes on.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/headless/script_check.h"

namespace kalvor {

class CConsoleDlg;
class ScriptHost;
struct Control;

// CR, LF and backslash written as \r, \n and \\.
std::string EscapeText(const std::string& text);

class ScriptRunner {
public:
    ScriptRunner(CConsoleDlg& dlg, ScriptHost& host, std::ostream& out, std::ostream& err)
        : m_dlg(dlg), m_host(host), m_out(out), m_err(err) {}

    // How errors name the script ("NAME:LINE: reason").
    void SetName(const std::string& name) { m_name = name; }
    // Reads and checks the whole script, then runs it to its end, "quit" or the end of the dialog.
    // Returns 0, or 1 for a script error (reported on `err` with its line number); a script that
    // does not pass the check runs no line.
    int Run(std::istream& script);
    // Lines already checked (LoadScript), run in order; 0 or 1 as Run.
    int Run(const std::vector<ScriptLine>& lines);
    // One line as it comes (a script fed line by line): parsed, checked and run. Returns false
    // (and reports) on a script error. Sets `quit` on "quit".
    bool RunLine(const std::string& text, int lineNumber, bool& quit);
    // A checked line; returns false (and reports) on a script error. Sets `quit` on "quit".
    bool Execute(const ScriptLine& line, bool& quit);
    // Reports a script error of line `lineNumber`; returns false.
    bool Fail(int lineNumber, const std::string& why);
    // Everything this console's script may name (made once, on first use).
    const ScriptNames& Names();

private:
    // The control a script word stands for: a template id, or a name on the current page.
    bool Resolve(int lineNumber, const ScriptWord& word, Control*& control);
    bool Wait(const ScriptLine& line);
    bool Print(const ScriptLine& line);
    void PrintNames();

    CConsoleDlg& m_dlg;
    ScriptHost& m_host;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_name = "script";
    std::unique_ptr<ScriptNames> m_names;
};

// Why `path` cannot serve as a script (missing, a folder, unreadable), or empty when it can.
std::string ScriptFileProblem(const std::string& path);

}  // namespace kalvor
