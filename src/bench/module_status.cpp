#include "bench/module_status.h"

#include <fstream>
#include <sstream>

namespace kalvor::bench {

namespace {

// The value of `key=` among the words of `line`, or empty.
std::string Value(const std::string& line, const std::string& key) {
    std::istringstream words(line);
    for (std::string w; words >> w;)
        if (w.size() > key.size() && w.compare(0, key.size(), key) == 0 && w[key.size()] == '=')
            return w.substr(key.size() + 1);
    return {};
}

unsigned Number(const std::string& s) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<unsigned>(std::stoul(s));
}

}  // namespace

const char* StateName(ModuleState state) {
    switch (state) {
    case ModuleState::Waiting: return "waiting";
    case ModuleState::Running: return "running";
    case ModuleState::Done: return "done";
    case ModuleState::Failed: return "failed";
    }
    return "?";
}

void ApplyEvent(const std::string& line, unsigned burnPlanned, ModuleStatus& s) {
    const std::string kind = line.substr(0, line.find(' '));
    s.progressLine.clear();
    std::string ended;
    if (kind == "run-started") {
        // Without a burn in the script, N is what the runs asked for so far.
        if (burnPlanned == 0) s.planned = s.cycles + Number(Value(line, "repeat"));
    } else if (kind == "cycle-answered") {
        ++s.cycles;
        s.dispensed += Number(Value(line, "dispensed"));
        s.rejected += Number(Value(line, "rejected"));
        const bool error = Value(line, "module_error") == "1";
        if (error) ++s.moduleErrors;
        s.lastAnswerMs = Value(line, "answer_ms");
        ended = error ? "module error " + Value(line, "code") : "answered";
    } else if (kind == "cycle-failed") {
        ++s.cycles;
        ended = Value(line, "ended");
        if (ended == "no_ACK" || ended == "no_answer" || ended == "bad_frames") ++s.linkGiveUps;
        for (char& c : ended)
            if (c == '_') c = ' ';
    } else if (kind == "port-opened") {
        s.portOpened = true;
    } else if (kind == "port-lost") {
        ++s.portLost;
        s.progressLine = "port lost";
    } else if (kind == "port-open-failed") {
        s.progressLine = "port could not be opened";
    }
    if (burnPlanned > 0) s.planned = burnPlanned;
    if (s.planned < s.cycles) s.planned = s.cycles;
    if (!ended.empty()) {
        s.progressLine = "cycle " + std::to_string(s.cycles) + " of " + std::to_string(s.planned) + ", " + ended +
                         ", dispensed " + std::to_string(s.dispensed) + ", rejected " + std::to_string(s.rejected) +
                         ", module errors " + std::to_string(s.moduleErrors) + ", link give-ups " +
                         std::to_string(s.linkGiveUps);
        if (!s.lastAnswerMs.empty() && kind == "cycle-answered") s.progressLine += ", answer " + s.lastAnswerMs + " ms";
    }
}

std::vector<std::string> TakeLines(std::string& buffer, size_t maxLine) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t nl = buffer.find('\n', start);
        if (nl == std::string::npos) break;
        lines.push_back(buffer.substr(start, std::min(nl - start, maxLine)));
        start = nl + 1;
    }
    buffer.erase(0, start);
    if (buffer.size() > maxLine) {
        lines.push_back(buffer.substr(0, maxLine));
        buffer.clear();
    }
    return lines;
}

unsigned BurnCycles(const std::vector<ScriptLine>& script) {
    unsigned total = 0;
    for (const ScriptLine& line : script)
        if (line.action == "burn" && !line.words.empty()) total += Number(line.words.front().text);
    return total;
}

}  // namespace kalvor::bench
