#include "app/headless/script_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "app/headless/control_names.h"
#include "app/headless/script_host.h"
#include "console/console_dlg.h"

namespace kalvor {

namespace {

constexpr int64_t kDefaultWaitRunMs = 3600 * 1000;
constexpr int64_t kDefaultWaitIdleMs = 30000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal digits only, no sign; false when the value is not within [0, max] (never wraps).
bool ParseNumber(const std::string& s, int64_t max, int64_t& value) {
    if (!AllDigits(s)) return false;
    int64_t v = 0;
    for (char c : s) {
        const int digit = c - '0';
        if (v > (max - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

// One word of the line: a run of non-blanks, or a double-quoted text that may hold blanks.
// `quoted` tells which; false with `error` set for a quote that is not closed.
bool Word(const std::string& line, size_t& pos, std::string& word, bool& quoted, std::string& error) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    word.clear();
    quoted = false;
    if (pos < line.size() && line[pos] == '"') {
        const size_t close = line.find('"', pos + 1);
        if (close == std::string::npos) {
            error = "a quote is not closed";
            return false;
        }
        word = line.substr(pos + 1, close - pos - 1);
        quoted = true;
        pos = close + 1;
        if (pos < line.size() && !IsBlank(line[pos])) {
            error = "a blank must follow the closing quote";
            return false;
        }
        return true;
    }
    const size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    word = line.substr(start, pos - start);
    return true;
}

std::string Rest(const std::string& line, size_t pos) {
    // `set CONTROL TEXT`: the text is everything after one separating blank.
    if (pos < line.size() && IsBlank(line[pos])) ++pos;
    return pos < line.size() ? line.substr(pos) : std::string();
}

// The line without its comment: from a '#' outside quotes to the end.
std::string WithoutComment(const std::string& line) {
    bool inQuotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') inQuotes = !inQuotes;
        else if (line[i] == '#' && !inQuotes) return line.substr(0, i);
    }
    return line;
}

// A name as a script writes it: in quotes when it holds a blank or could be taken for an id.
std::string ScriptName(const std::string& name) {
    const bool plain = !name.empty() && !AllDigits(name) && name.find('"') == std::string::npos &&
                       std::none_of(name.begin(), name.end(), [](char c) { return IsBlank(c); });
    return plain ? name : "\"" + name + "\"";
}

std::string IdList(const std::vector<int>& ids) {
    std::string s;
    for (int id : ids) s += (s.empty() ? "" : ", ") + std::to_string(id);
    return s;
}

}  // namespace

std::string EscapeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::string ScriptFileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

bool ScriptRunner::Fail(int lineNumber, const std::string& why) {
    if (m_host.Interrupted()) return false;  // the session is ending: nothing more to say
    m_err << "script error at line " << lineNumber << ": " << why << std::endl;
    return false;
}

int ScriptRunner::Run(std::istream& script) {
    std::string line;
    int number = 0;
    bool quit = false;
    while (!quit && !m_host.Ended() && !m_host.Interrupted() && std::getline(script, line)) {
        if (number < INT_MAX) ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A wait cut short by a signal is no fault of the script.
        if (!Execute(line, number, quit)) return m_host.Interrupted() ? 0 : 1;
    }
    return 0;
}

bool ScriptRunner::Resolve(int n, const std::string& word, bool quoted, Control*& c) {
    ControlTable& controls = m_dlg.Controls();
    c = nullptr;
    if (word.empty()) return Fail(n, "a control id or name is missing");
    if (!quoted && AllDigits(word)) {
        // An id of the template; a number that is none may still be a caption ("9600").
        int64_t id = 0;
        if (ParseNumber(word, INT_MAX, id) && (c = controls.Find(static_cast<int>(id))) != nullptr) return true;
        if (ControlsNamed(controls, word).empty()) return Fail(n, "no control " + word);
    }
    const std::vector<int> ids = ControlsNamed(controls, word);
    if (ids.empty()) return Fail(n, "no control named \"" + word + "\" on this page");
    if (ids.size() > 1) return Fail(n, "\"" + word + "\" fits several controls: " + IdList(ids));
    c = controls.Find(ids.front());
    return true;
}

bool ScriptRunner::Execute(const std::string& rawLine, int n, bool& quit) {
    std::string error;
    size_t pos = 0;
    std::string command;
    bool quoted = false;
    if (!Word(rawLine, pos, command, quoted, error)) return Fail(n, error);
    if (command.empty() || command[0] == '#') return true;
    // The text of `set` may hold a '#'.
    const std::string line = command == "set" ? rawLine : WithoutComment(rawLine);
    m_host.NoteAction(line);

    ControlTable& controls = m_dlg.Controls();
    auto usable = [&](Control* c) {
        if (!c->visible) return Fail(n, "control " + std::to_string(c->id) + " is hidden");
        if (!c->enabled) return Fail(n, "control " + std::to_string(c->id) + " is disabled");
        return true;
    };
    // Nothing may follow the operands of a command but blanks.
    auto ended = [&](size_t at) {
        std::string extra;
        bool q = false;
        std::string why;
        if (!Word(line, at, extra, q, why)) return Fail(n, why);
        if (!extra.empty() || q) return Fail(n, "unexpected '" + extra + "' after the command");
        return true;
    };

    if (command == "quit") {
        if (!ended(pos)) return false;
        quit = true;
        return true;
    }
    if (command == "tab") {
        std::string which;
        if (!Word(line, pos, which, quoted, error)) return Fail(n, error);
        if (which.empty()) return Fail(n, "tab needs a number or a name");
        int64_t index = -1;
        if (!quoted && AllDigits(which)) {
            if (!ParseNumber(which, INT_MAX, index) || index >= static_cast<int64_t>(controls.Tabs().size()))
                return Fail(n, "no tab " + which);
        } else {
            const std::vector<int> tabs = TabsNamed(controls, which);
            if (tabs.empty()) return Fail(n, "no tab named \"" + which + "\"");
            if (tabs.size() > 1) return Fail(n, "\"" + which + "\" fits several tabs: " + IdList(tabs));
            index = tabs.front();
        }
        if (!ended(pos)) return false;
        // A click on the selected tab changes nothing, as the tab strip sends no notification.
        if (index != controls.TabSelection()) {
            controls.SetTabSelection(static_cast<int>(index));
            m_dlg.OnSelChangeTab();
        }
        m_host.Pump();
        return true;
    }
    if (command == "set") {
        std::string word;
        if (!Word(line, pos, word, quoted, error)) return Fail(n, error);
        Control* c = nullptr;
        if (!Resolve(n, word, quoted, c)) return false;
        if (c->kind != ControlKind::Edit) return Fail(n, "control " + std::to_string(c->id) + " is not an edit");
        if (!usable(c)) return false;
        controls.UserSetText(c->id, Rest(line, pos));
        return true;
    }
    if (command == "check" || command == "uncheck" || command == "click") {
        std::string word;
        if (!Word(line, pos, word, quoted, error)) return Fail(n, error);
        Control* c = nullptr;
        if (!Resolve(n, word, quoted, c)) return false;
        if (!ended(pos) || !usable(c)) return false;
        const int id = c->id;
        if (command == "click") {
            if (c->kind == ControlKind::Button) {
                m_dlg.OnCommand(id);
            } else if (c->kind == ControlKind::CheckBox || c->kind == ControlKind::Radio) {
                controls.UserClick(id);
                m_dlg.OnCommand(id);
            } else {
                return Fail(n, "control " + std::to_string(id) + " cannot be clicked");
            }
        } else {
            if (c->kind != ControlKind::CheckBox && c->kind != ControlKind::Radio)
                return Fail(n, "control " + std::to_string(id) + " is not a check box or radio");
            if (command == "check")
                controls.UserClick(id), controls.SetCheck(id, 1);
            else
                controls.SetCheck(id, 0);
            m_dlg.OnCommand(id);
        }
        m_host.Pump();
        return true;
    }
    if (command == "wait") return Wait(n, line, pos);
    if (command == "print") return Print(n, line, pos);
    return Fail(n, "unknown command '" + command + "'");
}

bool ScriptRunner::Wait(int n, const std::string& line, size_t& pos) {
    std::string what, limit, error, extra;
    bool quoted = false;
    if (!Word(line, pos, what, quoted, error)) return Fail(n, error);
    const bool run = what == "run", idle = what == "idle";
    if (run || idle) {
        if (!Word(line, pos, limit, quoted, error)) return Fail(n, error);
    } else {
        limit = what;
    }
    if (!Word(line, pos, extra, quoted, error)) return Fail(n, error);
    if (!extra.empty()) return Fail(n, "unexpected '" + extra + "' after the command");

    int64_t ms = run ? kDefaultWaitRunMs : kDefaultWaitIdleMs;
    if ((!run && !idle) || !limit.empty()) {
        if (!ParseNumber(limit, kMaxScriptWaitMs, ms))
            return Fail(n, std::string(run ? "wait run" : idle ? "wait idle" : "wait") +
                               " needs milliseconds from 0 to 2147483647, not '" + limit + "'");
    }
    if (run) {
        if (!m_host.RunUntil([this] { return !m_dlg.RunActive(); }, ms))
            return Fail(n, "the dispense run is still going after " + std::to_string(ms) + " ms");
    } else if (idle) {
        if (!m_host.RunUntil([this] { return m_dlg.IsIdle(); }, ms))
            return Fail(n, "still busy after " + std::to_string(ms) + " ms");
    } else {
        m_host.RunFor(ms);
    }
    return true;
}

bool ScriptRunner::Print(int n, const std::string& line, size_t& pos) {
    ControlTable& controls = m_dlg.Controls();
    std::string what, error, extra;
    bool quoted = false;
    if (!Word(line, pos, what, quoted, error)) return Fail(n, error);
    if (!Word(line, pos, extra, quoted, error)) return Fail(n, error);
    if (!extra.empty()) return Fail(n, "unexpected '" + extra + "' after the command");
    if (what.empty()) return Fail(n, "print needs message, status, visible, disabled, names or a control");
    // A word in quotes is always a control's name.
    if (!quoted && (what == "visible" || what == "disabled")) {
        std::vector<int> ids;
        for (const Control& c : controls.All())
            if (c.id > 0 && c.visible && (what == "visible" || !c.enabled)) ids.push_back(c.id);
        std::sort(ids.begin(), ids.end());
        std::string out = what + ":";
        for (int id : ids) out += " " + std::to_string(id);
        m_out << out << std::endl;
        return true;
    }
    if (!quoted && what == "names") {
        PrintNames();
        return true;
    }
    const Control* c = nullptr;
    if (!quoted && what == "message") {
        c = controls.Find(1003);
    } else if (!quoted && what == "status") {
        c = controls.Find(1004);
    } else {
        Control* found = nullptr;
        if (!Resolve(n, what, quoted, found)) return false;
        c = found;
    }
    if (c->kind == ControlKind::CheckBox || c->kind == ControlKind::Radio)
        m_out << c->id << ": " << c->checked << std::endl;
    else
        m_out << c->id << ": " << EscapeText(c->text) << std::endl;
    return true;
}

void ScriptRunner::PrintNames() {
    // One line per name, as a script would write it: "tab N NAME" for the tabs, "ID NAME" for
    // the controls.
    const ControlTable& controls = m_dlg.Controls();
    m_out << "names:" << std::endl;
    for (const ControlName& name : CurrentNames(controls)) {
        if (name.tab)
            m_out << "tab " << name.id << " " << ScriptName(EscapeText(name.name)) << std::endl;
        else
            m_out << name.id << " " << ScriptName(EscapeText(name.name)) << std::endl;
    }
}

}  // namespace kalvor
