#include "app/headless/script_runner.h"

#include <algorithm>
#include <cctype>
#include <vector>
#include <cstdlib>
#include <sstream>

#include "app/headless/headless_host.h"
#include "console/console_dlg.h"

namespace kalvor {

namespace {

bool ParseInt(const std::string& s, long& value) {
    if (s.empty()) return false;
    char* end = nullptr;
    value = std::strtol(s.c_str(), &end, 10);
    return end && *end == '\0';
}

std::string Word(const std::string& line, size_t& pos) {
    while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos]))) ++pos;
    const size_t start = pos;
    while (pos < line.size() && !std::isspace(static_cast<unsigned char>(line[pos]))) ++pos;
    return line.substr(start, pos - start);
}

std::string Rest(const std::string& line, size_t pos) {
    // `set ID TEXT`: the text is everything after one separating blank.
    if (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    return pos < line.size() ? line.substr(pos) : std::string();
}

}  // namespace

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
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A wait cut short by a signal is no fault of the script.
        if (!Execute(line, number, quit)) return m_host.Interrupted() ? 0 : 1;
    }
    return 0;
}

bool ScriptRunner::Execute(const std::string& rawLine, int n, bool& quit) {
    // A '#' starts a comment, except in the text of `set`.
    size_t pos = 0;
    const std::string verb = Word(rawLine, pos);
    std::string line = rawLine;
    if (verb != "set") {
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
    }
    pos = 0;
    const std::string command = Word(line, pos);
    if (command.empty() || command[0] == '#') return true;

    ControlTable& controls = m_dlg.Controls();
    auto control = [&](const std::string& idText, Control*& c) {
        long id = 0;
        if (!ParseInt(idText, id)) return Fail(n, "not a control id: '" + idText + "'");
        c = controls.Find(static_cast<int>(id));
        if (!c) return Fail(n, "no control " + idText);
        return true;
    };
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
        long index = 0;
        if (!ParseInt(Word(line, pos), index)) return Fail(n, "tab needs a number");
        if (index < 0 || index >= static_cast<long>(controls.Tabs().size()))
            return Fail(n, "no tab " + std::to_string(index));
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
        if (!control(Word(line, pos), c)) return false;
        if (c->kind != ControlKind::Edit) return Fail(n, "control " + std::to_string(c->id) + " is not an edit");
        if (!usable(c)) return false;
        controls.UserSetText(c->id, Rest(line, pos));
        return true;
    }
    if (command == "check" || command == "uncheck" || command == "click") {
        Control* c = nullptr;
        if (!control(Word(line, pos), c)) return false;
        if (!usable(c)) return false;
        if (command == "click") {
            if (c->kind == ControlKind::Button) {
                m_dlg.OnCommand(c->id);
            } else if (c->kind == ControlKind::CheckBox || c->kind == ControlKind::Radio) {
                controls.UserClick(c->id);
                m_dlg.OnCommand(c->id);
            } else {
                return Fail(n, "control " + std::to_string(c->id) + " cannot be clicked");
            }
        } else {
            if (c->kind != ControlKind::CheckBox && c->kind != ControlKind::Radio)
                return Fail(n, "control " + std::to_string(c->id) + " is not a check box or radio");
            if (command == "check")
                controls.UserClick(c->id), controls.SetCheck(c->id, 1);
            else
                controls.SetCheck(c->id, 0);
            m_dlg.OnCommand(c->id);
        }
        m_host.Pump();
        return true;
    }
    if (command == "wait") {
        const std::string what = Word(line, pos);
        long ms = 0;
        if (what == "run") {
            const std::string limit = Word(line, pos);
            ms = 3600 * 1000;
            if (!limit.empty() && (!ParseInt(limit, ms) || ms < 0)) return Fail(n, "wait run needs milliseconds");
            if (!m_host.RunUntil([this] { return !m_dlg.RunActive(); }, ms))
                return Fail(n, "the dispense run is still going after " + std::to_string(ms) + " ms");
            return true;
        }
        if (what == "idle") {
            const std::string limit = Word(line, pos);
            ms = 30000;
            if (!limit.empty() && (!ParseInt(limit, ms) || ms < 0)) return Fail(n, "wait idle needs milliseconds");
            if (!m_host.RunUntil([this] { return m_dlg.IsIdle(); }, ms))
                return Fail(n, "still busy after " + std::to_string(ms) + " ms");
            return true;
        }
        if (!ParseInt(what, ms) || ms < 0) return Fail(n, "wait needs milliseconds or 'idle'");
        m_host.RunFor(ms);
        return true;
    }
    if (command == "print") {
        const std::string what = Word(line, pos);
        if (what == "visible" || what == "disabled") {
            std::vector<int> ids;
            for (const Control& c : controls.All())
                if (c.id > 0 && c.visible && (what == "visible" || !c.enabled)) ids.push_back(c.id);
            std::sort(ids.begin(), ids.end());
            std::string out = what + ":";
            for (int id : ids) out += " " + std::to_string(id);
            m_out << out << std::endl;
            return true;
        }
        int id = 0;
        if (what == "message") {
            id = 1003;
        } else if (what == "status") {
            id = 1004;
        } else {
            long v = 0;
            if (!ParseInt(what, v)) return Fail(n, "print needs message, status, visible, disabled or an id");
            id = static_cast<int>(v);
        }
        const Control* c = controls.Find(id);
        if (!c) return Fail(n, "no control " + std::to_string(id));
        if (c->kind == ControlKind::CheckBox || c->kind == ControlKind::Radio)
            m_out << id << ": " << c->checked << std::endl;
        else
            m_out << id << ": " << EscapeText(c->text) << std::endl;
        return true;
    }
    return Fail(n, "unknown command '" + command + "'");
}

}  // namespace kalvor
