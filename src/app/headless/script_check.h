// The headless script's lines, read and checked before they run: the words of a line, the shape of
// every action (its operands, in a table), and what can be known before the console starts: the
// action, its operands, numbers and their ranges, quotes, ids of the template, tabs, and names that
// some page shows. Whether a name is on the page shown, and whether its control is enabled, is
// known only when the line runs.
//
// A new action is one row of ScriptActions() (its name and operand kinds) and one branch in
// ScriptRunner::Execute; an operand of a new kind is one case in the parser and the name check.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kalvor {

// What an operand may be.
enum class OperandKind {
    Control,     // a control id of the template, or a name (quoted when it holds blanks)
    Tab,         // a tab index or a tab's caption
    Text,        // the rest of the line after one blank ('#' included); may be empty
    WaitFor,     // "idle", "run" or milliseconds
    OptionalMs,  // milliseconds, or nothing; only after "idle" or "run"
    PrintWhat,   // message, status, visible, disabled, names, or a control
    Cycles,      // a number of dispense cycles, 1 to kMaxBurnCycles
};

struct ActionShape {
    const char* name;
    std::vector<OperandKind> operands;
};

// tab, set, check, uncheck, click, wait, burn, print, quit.
const std::vector<ActionShape>& ScriptActions();

struct ScriptWord {
    std::string text;
    bool quoted = false;
};

struct ScriptLine {
    int number = 0;
    std::string action;              // empty for a blank or comment line
    std::vector<ScriptWord> words;   // the operands, in the order of the action's shape
    int64_t ms = -1;                 // the milliseconds given to `wait`, -1 when none
    std::string text;                // the line as written, without its comment (for the trace)
};

// The longest wait a script may ask for, in milliseconds.
constexpr int64_t kMaxScriptWaitMs = 2147483647;
// A line longer than this is a script error; only its first bytes are kept.
constexpr size_t kMaxScriptLineBytes = 1 << 20;
// A script file or stream longer than this is a script error (a device that never ends).
constexpr size_t kMaxScriptBytes = 64u << 20;

// Decimal digits only, no sign; false when the value is not within [0, max] (never wraps).
bool ParseScriptNumber(const std::string& s, int64_t max, int64_t& value);
bool AllDigits(const std::string& s);

// A piece of a line as an error message quotes it: at most 80 bytes (then "..."), control
// characters escaped.
std::string QuoteForError(const std::string& text);

// Splits `text` (one line, without its line end) into an action and operands by the action's
// shape. False with `error` set when the line is malformed (unknown action, quote, operand count,
// number out of range).
bool ParseScriptLine(const std::string& text, ScriptLine& line, std::string& error);

// Everything a script may name: the template's ids, the captions of the tabs, and every name any
// page shows (control_names.h).
struct ScriptNames {
    std::set<int> ids;
    std::vector<std::string> tabs;
    std::set<std::string> names;
};
// The names of a console with (or without) the calibration tabs, found by showing every page of a
// console that has no port and no host.
ScriptNames AllScriptNames(bool calibrationTabs);

// False with `error` set when an operand names nothing that exists on any page.
bool CheckScriptNames(const ScriptLine& line, const ScriptNames& names, std::string& error);

// Reads lines from a byte stream with a bound on what is kept: a leading UTF-8 BOM is dropped,
// a CR before the LF is dropped, a line over kMaxScriptLineBytes is kept only in part and marked.
class ScriptLineSplitter {
public:
    struct Line {
        std::string text;
        bool tooLong = false;
    };
    // Adds bytes; every line completed is appended to `out`.
    void Feed(const char* data, size_t length, std::vector<Line>& out);
    // The end of the input: a last line without its LF is appended to `out`.
    void Finish(std::vector<Line>& out);

private:
    void Complete(std::vector<Line>& out);
    std::string m_line;
    bool m_tooLong = false;
    bool m_first = true;
};

// Reads the whole of `in` (at most kMaxScriptBytes), parses and checks every line. On the first
// error writes "kalvor-tp: script error: NAME:LINE: reason" on `err` and returns false.
bool LoadScript(std::istream& in, const std::string& name, const ScriptNames& names,
                std::vector<ScriptLine>& lines, std::ostream& err);

// The reason given for a line over kMaxScriptLineBytes, quoting its start.
std::string LongLineError(const std::string& start);

// "kalvor-tp: script error: NAME:LINE: reason".
std::string ScriptErrorLine(const std::string& name, int lineNumber, const std::string& why);

}  // namespace kalvor
