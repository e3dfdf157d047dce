#include "app/headless/script_check.h"

#include "app/headless/burn_action.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/headless/control_names.h"
#include "console/console_dlg.h"

namespace kalvor {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One word of the line: a run of non-blanks, or a double-quoted text that may hold blanks.
// False with `error` set for a quote that is not closed.
bool Word(const std::string& line, size_t& pos, ScriptWord& word, std::string& error) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    word = {};
    if (pos < line.size() && line[pos] == '"') {
        const size_t close = line.find('"', pos + 1);
        if (close == std::string::npos) {
            error = "a quote is not closed";
            return false;
        }
        word.text = line.substr(pos + 1, close - pos - 1);
        word.quoted = true;
        pos = close + 1;
        if (pos < line.size() && !IsBlank(line[pos])) {
            error = "a blank must follow the closing quote";
            return false;
        }
        return true;
    }
    const size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    word.text = line.substr(start, pos - start);
    return true;
}

bool Present(const ScriptWord& w) { return !w.text.empty() || w.quoted; }

// The line without its comment: from a '#' outside quotes to the end.
std::string WithoutComment(const std::string& line) {
    bool inQuotes = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') inQuotes = !inQuotes;
        else if (line[i] == '#' && !inQuotes) return line.substr(0, i);
    }
    return line;
}

bool IsPrintKeyword(const ScriptWord& w) {
    static const char* const kWords[] = {"message", "status", "visible", "disabled", "names"};
    return !w.quoted && std::any_of(std::begin(kWords), std::end(kWords), [&](const char* k) { return w.text == k; });
}

// A page's host that does nothing: the name book shows pages of a console that never starts.
class NoHost final : public DialogHost, public RxSink {
public:
    void SetTimer(int, unsigned) override {}
    void KillTimer(int) override {}
    int64_t MonotonicMs() override { return 0; }
    LocalTime LocalNow() override { return {}; }
    void MessageBox(const std::string&, const std::string&, BoxIcon) override {}
    void PostMessage(unsigned, uintptr_t) override {}
    RxSink& Sink() override { return *this; }
    void EndDialog(int) override {}
    void HandOver(std::function<void()>) override {}
};

class NoProfile final : public Profile {
public:
    std::string GetString(const std::string&, const std::string&, const std::string& fallback) override {
        return fallback;
    }
    bool WriteString(const std::string&, const std::string&, const std::string&) override { return false; }
};

bool CheckControl(const ScriptWord& w, const ScriptNames& names, std::string& error) {
    if (!w.quoted && AllDigits(w.text)) {
        // An id of the template; a number that is none may still be a caption ("9600").
        int64_t id = 0;
        if (ParseScriptNumber(w.text, INT_MAX, id) && names.ids.count(static_cast<int>(id))) return true;
        if (names.names.count(w.text)) return true;
        error = "no control " + QuoteForError(w.text);
        return false;
    }
    if (names.names.count(w.text)) return true;
    error = "no control named \"" + QuoteForError(w.text) + "\" on any page";
    return false;
}

}  // namespace

const std::vector<ActionShape>& ScriptActions() {
    using K = OperandKind;
    static const std::vector<ActionShape> kActions = {
        {"tab", {K::Tab}},
        {"set", {K::Control, K::Text}},
        {"check", {K::Control}},
        {"uncheck", {K::Control}},
        {"click", {K::Control}},
        {"wait", {K::WaitFor, K::OptionalMs}},
        {"burn", {K::Cycles}},
        {"print", {K::PrintWhat}},
        {"quit", {}},
    };
    return kActions;
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseScriptNumber(const std::string& s, int64_t max, int64_t& value) {
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

std::string QuoteForError(const std::string& text) {
    constexpr size_t kShown = 80;
    size_t shown = std::min(text.size(), kShown);
    // Never cut a UTF-8 sequence in two.
    if (shown < text.size())
        while (shown > 0 && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80) --shown;
    std::string out;
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (shown < text.size()) out += "...";
    return out;
}

bool ParseScriptLine(const std::string& text, ScriptLine& line, std::string& error) {
    line.action.clear();
    line.words.clear();
    line.ms = -1;
    size_t pos = 0;
    ScriptWord command;
    if (!Word(text, pos, command, error)) return false;
    if ((command.text.empty() && !command.quoted) || (!command.quoted && command.text[0] == '#')) return true;
    const ActionShape* shape = nullptr;
    for (const ActionShape& a : ScriptActions())
        if (!command.quoted && command.text == a.name) shape = &a;
    if (!shape) {
        error = "unknown command '" + QuoteForError(command.text) + "'";
        return false;
    }
    line.action = shape->name;
    const bool takesText = std::find(shape->operands.begin(), shape->operands.end(), OperandKind::Text) !=
                           shape->operands.end();
    // A text operand may hold a '#'; elsewhere it starts a comment.
    const std::string body = takesText ? text : WithoutComment(text);
    line.text = body.substr(0, body.find_last_not_of(" \t\r") + 1);
    for (OperandKind kind : shape->operands) {
        if (kind == OperandKind::Text) {
            // The text is everything after one separating blank.
            if (pos < body.size() && IsBlank(body[pos])) ++pos;
            line.words.push_back({pos < body.size() ? body.substr(pos) : std::string(), false});
            pos = body.size();
            continue;
        }
        ScriptWord w;
        if (!Word(body, pos, w, error)) return false;
        const bool given = Present(w);
        switch (kind) {
        case OperandKind::Control:
            if (!given) return error = "a control id or name is missing", false;
            break;
        case OperandKind::Tab:
            if (!given) return error = "tab needs a number or a name", false;
            break;
        case OperandKind::PrintWhat:
            if (!given) return error = "print needs message, status, visible, disabled, names or a control", false;
            break;
        case OperandKind::WaitFor:
            if (!w.quoted && (w.text == "idle" || w.text == "run")) break;
            if (!ParseScriptNumber(w.text, kMaxScriptWaitMs, line.ms))
                return error = "wait needs milliseconds from 0 to 2147483647, not '" + QuoteForError(w.text) + "'",
                       false;
            break;
        case OperandKind::OptionalMs: {
            const std::string& after = line.words.empty() ? std::string() : line.words.back().text;
            if (!given || line.words.empty() || line.words.back().quoted || (after != "idle" && after != "run")) {
                if (given) return error = "unexpected '" + QuoteForError(w.text) + "' after the command", false;
                continue;  // nothing given, or nothing may be
            }
            if (!ParseScriptNumber(w.text, kMaxScriptWaitMs, line.ms))
                return error = "wait " + after + " needs milliseconds from 0 to 2147483647, not '" +
                               QuoteForError(w.text) + "'",
                       false;
            break;
        }
        case OperandKind::Cycles: {
            int64_t cycles = 0;
            const std::string range = "burn needs a number of cycles from 1 to " + std::to_string(kMaxBurnCycles);
            if (!given) return error = range, false;
            if (w.quoted || !ParseScriptNumber(w.text, kMaxBurnCycles, cycles) || cycles < 1)
                return error = range + ", not '" + QuoteForError(w.text) + "'", false;
            break;
        }
        case OperandKind::Text: break;
        }
        line.words.push_back(w);
    }
    // Nothing may follow the operands but blanks.
    ScriptWord extra;
    if (!Word(body, pos, extra, error)) return false;
    if (Present(extra)) return error = "unexpected '" + QuoteForError(extra.text) + "' after the command", false;
    return true;
}

ScriptNames AllScriptNames(bool calibrationTabs) {
    NoHost host;
    NoProfile profile;
    ConsoleOptions options;
    options.calibrationTabs = calibrationTabs;
    CConsoleDlg dlg(host, profile, nullptr, options);
    ControlTable& controls = dlg.Controls();
    ScriptNames names;
    names.tabs.assign(CConsoleDlg::kPageCaptions, CConsoleDlg::kPageCaptions + (calibrationTabs ? 6 : 4));
    for (const Control& c : controls.All())
        if (c.id > 0) names.ids.insert(c.id);
    controls.SetTabs(names.tabs);
    for (size_t page = 0; page < names.tabs.size(); ++page) {
        controls.SetTabSelection(static_cast<int>(page));
        dlg.OnSelChangeTab();
        for (const ControlName& n : CurrentNames(controls))
            if (!n.tab) names.names.insert(n.name);
    }
    return names;
}

bool CheckScriptNames(const ScriptLine& line, const ScriptNames& names, std::string& error) {
    const std::vector<ActionShape>& actions = ScriptActions();
    const auto shape = std::find_if(actions.begin(), actions.end(),
                                    [&](const ActionShape& a) { return line.action == a.name; });
    if (shape == actions.end()) return true;
    for (size_t i = 0; i < line.words.size() && i < shape->operands.size(); ++i) {
        const ScriptWord& w = line.words[i];
        switch (shape->operands[i]) {
        case OperandKind::Control:
            if (!CheckControl(w, names, error)) return false;
            break;
        case OperandKind::PrintWhat:
            if (!IsPrintKeyword(w) && !CheckControl(w, names, error)) return false;
            break;
        case OperandKind::Tab: {
            int64_t index = -1;
            if (!w.quoted && AllDigits(w.text)) {
                if (!ParseScriptNumber(w.text, INT_MAX, index) || index >= static_cast<int64_t>(names.tabs.size()))
                    return error = "no tab " + QuoteForError(w.text), false;
            } else {
                std::vector<std::string> captions;
                for (const std::string& t : names.tabs) captions.push_back(CaptionName(t));
                if (std::find(captions.begin(), captions.end(), w.text) == captions.end())
                    return error = "no tab named \"" + QuoteForError(w.text) + "\"", false;
            }
            break;
        }
        default: break;
        }
    }
    return true;
}

void ScriptLineSplitter::Complete(std::vector<Line>& out) {
    if (m_first && m_line.compare(0, 3, "\xEF\xBB\xBF") == 0) m_line.erase(0, 3);
    m_first = false;
    if (!m_tooLong && !m_line.empty() && m_line.back() == '\r') m_line.pop_back();
    out.push_back({std::move(m_line), m_tooLong});
    m_line.clear();
    m_tooLong = false;
}

void ScriptLineSplitter::Feed(const char* data, size_t length, std::vector<Line>& out) {
    // What is kept of a line too long: enough to quote it.
    constexpr size_t kKeptOfLongLine = 128;
    size_t i = 0;
    while (i < length) {
        const char* nl = static_cast<const char*>(std::memchr(data + i, '\n', length - i));
        const size_t end = nl ? static_cast<size_t>(nl - data) : length;
        const size_t piece = end - i;
        if (!m_tooLong && m_line.size() + piece > kMaxScriptLineBytes) {
            m_tooLong = true;
            if (m_line.size() > kKeptOfLongLine) m_line.resize(kKeptOfLongLine);
        }
        if (!m_tooLong) m_line.append(data + i, piece);
        else if (m_line.size() < kKeptOfLongLine)
            m_line.append(data + i, std::min(piece, kKeptOfLongLine - m_line.size()));
        i = end;
        if (nl) {
            Complete(out);
            ++i;
        }
    }
}

void ScriptLineSplitter::Finish(std::vector<Line>& out) {
    if (!m_line.empty() || m_tooLong) Complete(out);
}

std::string LongLineError(const std::string& start) {
    return "the line is longer than " + std::to_string(kMaxScriptLineBytes) + " bytes: '" + QuoteForError(start) + "'";
}

std::string ScriptErrorLine(const std::string& name, int lineNumber, const std::string& why) {
    return "kalvor-tp: script error: " + name + ":" + std::to_string(lineNumber) + ": " + why;
}

bool LoadScript(std::istream& in, const std::string& name, const ScriptNames& names,
                std::vector<ScriptLine>& lines, std::ostream& err) {
    ScriptLineSplitter splitter;
    std::vector<ScriptLineSplitter::Line> raw;
    size_t total = 0;
    char buffer[65536];
    int number = 0;
    auto check = [&](bool last) {
        if (last) splitter.Finish(raw);
        for (ScriptLineSplitter::Line& l : raw) {
            if (number < INT_MAX) ++number;
            ScriptLine line;
            line.number = number;
            std::string why;
            if (l.tooLong)
                why = LongLineError(l.text);
            else if (ParseScriptLine(l.text, line, why))
                CheckScriptNames(line, names, why);
            if (!why.empty()) {
                err << ScriptErrorLine(name, number, why) << std::endl;
                return false;
            }
            if (!line.action.empty()) lines.push_back(std::move(line));
        }
        raw.clear();
        return true;
    };
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        total += static_cast<size_t>(got);
        if (total > kMaxScriptBytes) {
            err << "kalvor-tp: script error: " << name << ": longer than " << (kMaxScriptBytes >> 20) << " MiB"
                << std::endl;
            return false;
        }
        splitter.Feed(buffer, static_cast<size_t>(got), raw);
        if (!check(false)) return false;
    }
    return check(true);
}

}  // namespace kalvor
