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

#include "app/headless/burn_action.h"
#include "app/headless/control_names.h"
#include "app/headless/script_host.h"
#include "console/console_dlg.h"

namespace kalvor {

namespace {

// `wait run` with no limit: as long as the run goes on (a signal still ends it).
constexpr int64_t kNoLimitMs = INT64_MAX / 4;
constexpr int64_t kDefaultWaitIdleMs = 30000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

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
    m_err << ScriptErrorLine(m_name, lineNumber, why) << std::endl;
    return false;
}

const ScriptNames& ScriptRunner::Names() {
    if (!m_names) m_names = std::make_unique<ScriptNames>(AllScriptNames(m_dlg.Controls().Tabs().size() > 4));
    return *m_names;
}

int ScriptRunner::Run(std::istream& script) {
    std::vector<ScriptLine> lines;
    if (!LoadScript(script, m_name, Names(), lines, m_err)) return 1;
    return Run(lines);
}

int ScriptRunner::Run(const std::vector<ScriptLine>& lines) {
    bool quit = false;
    for (const ScriptLine& line : lines) {
        if (quit || m_host.Ended() || m_host.Interrupted()) break;
        // A wait cut short by a signal is no fault of the script.
        if (!Execute(line, quit)) return m_host.Interrupted() ? 0 : 1;
    }
    return 0;
}

bool ScriptRunner::RunLine(const std::string& text, int lineNumber, bool& quit) {
    ScriptLine line;
    std::string why;
    line.number = lineNumber;
    if (!ParseScriptLine(text, line, why) || !CheckScriptNames(line, Names(), why)) return Fail(lineNumber, why);
    return line.action.empty() || Execute(line, quit);
}

bool ScriptRunner::Resolve(int n, const ScriptWord& word, Control*& c) {
    ControlTable& controls = m_dlg.Controls();
    c = nullptr;
    if (!word.quoted && AllDigits(word.text)) {
        // An id of the template; a number that is none may still be a caption ("9600").
        int64_t id = 0;
        if (ParseScriptNumber(word.text, INT_MAX, id) && (c = controls.Find(static_cast<int>(id))) != nullptr)
            return true;
        if (ControlsNamed(controls, word.text).empty()) return Fail(n, "no control " + QuoteForError(word.text));
    }
    const std::vector<int> ids = ControlsNamed(controls, word.text);
    if (ids.empty()) return Fail(n, "no control named \"" + QuoteForError(word.text) + "\" on this page");
    if (ids.size() > 1) return Fail(n, "\"" + word.text + "\" fits several controls: " + IdList(ids));
    c = controls.Find(ids.front());
    return true;
}

bool ScriptRunner::Execute(const ScriptLine& line, bool& quit) {
    const int n = line.number;
    const std::string& command = line.action;
    m_host.NoteAction(line.text);
    ControlTable& controls = m_dlg.Controls();
    auto usable = [&](Control* c) {
        if (!c->visible) return Fail(n, "control " + std::to_string(c->id) + " is hidden");
        if (!c->enabled) return Fail(n, "control " + std::to_string(c->id) + " is disabled");
        return true;
    };

    if (command == "quit") {
        quit = true;
        return true;
    }
    if (command == "tab") {
        const ScriptWord& which = line.words.at(0);
        int64_t index = -1;
        if (!which.quoted && AllDigits(which.text)) {
            if (!ParseScriptNumber(which.text, INT_MAX, index) ||
                index >= static_cast<int64_t>(controls.Tabs().size()))
                return Fail(n, "no tab " + QuoteForError(which.text));
        } else {
            const std::vector<int> tabs = TabsNamed(controls, which.text);
            if (tabs.empty()) return Fail(n, "no tab named \"" + QuoteForError(which.text) + "\"");
            if (tabs.size() > 1) return Fail(n, "\"" + which.text + "\" fits several tabs: " + IdList(tabs));
            index = tabs.front();
        }
        // A click on the selected tab changes nothing, as the tab strip sends no notification.
        if (index != controls.TabSelection()) {
            controls.SetTabSelection(static_cast<int>(index));
            m_dlg.OnSelChangeTab();
        }
        m_host.Pump();
        return true;
    }
    if (command == "set") {
        Control* c = nullptr;
        if (!Resolve(n, line.words.at(0), c)) return false;
        if (c->kind != ControlKind::Edit) return Fail(n, "control " + std::to_string(c->id) + " is not an edit");
        if (!usable(c)) return false;
        controls.UserSetText(c->id, line.words.at(1).text);
        return true;
    }
    if (command == "check" || command == "uncheck" || command == "click") {
        Control* c = nullptr;
        if (!Resolve(n, line.words.at(0), c)) return false;
        if (!usable(c)) return false;
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
    if (command == "wait") return Wait(line);
    if (command == "burn") {
        std::string why;
        int64_t planned = 0;  // checked already: 1 to kMaxBurnCycles
        ParseScriptNumber(line.words.at(0).text, kMaxBurnCycles, planned);
        if (BurnAction(m_dlg, m_host, m_host.PortWaitS()).Run(static_cast<unsigned>(planned), why)) return true;
        return why.empty() ? false : Fail(n, why);  // empty: a signal ended the burn
    }
    if (command == "print") return Print(line);
    return Fail(n, "unknown command '" + QuoteForError(command) + "'");
}

bool ScriptRunner::Wait(const ScriptLine& line) {
    const int n = line.number;
    const std::string& what = line.words.at(0).text;
    const bool quoted = line.words.at(0).quoted;
    const bool run = !quoted && what == "run", idle = !quoted && what == "idle";
    if (run) {
        const int64_t ms = line.ms >= 0 ? line.ms : kNoLimitMs;
        if (!m_host.RunUntil([this] { return !m_dlg.RunActive(); }, ms))
            return Fail(n, "the dispense run is still going after " + std::to_string(ms) + " ms");
    } else if (idle) {
        const int64_t ms = line.ms >= 0 ? line.ms : kDefaultWaitIdleMs;
        if (!m_host.RunUntil([this] { return m_dlg.IsIdle(); }, ms))
            return Fail(n, "still busy after " + std::to_string(ms) + " ms");
    } else {
        m_host.RunFor(line.ms);
    }
    return true;
}

bool ScriptRunner::Print(const ScriptLine& line) {
    ControlTable& controls = m_dlg.Controls();
    const std::string& what = line.words.at(0).text;
    const bool quoted = line.words.at(0).quoted;
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
        if (!Resolve(line.number, line.words.at(0), found)) return false;
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
