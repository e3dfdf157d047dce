#include "bench/bench_file.h"

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/headless/app_options.h"

namespace kalvor::bench {

namespace {

// Applies one `key=value` word to `m`; the complaint, or empty.
std::string TakeSetting(const std::string& word, BenchModule& m) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos)
        return "'" + word + "' is not a setting (model=, baud= or parity=): a path with blanks is not supported";
    const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    std::string* slot = nullptr;
    if (key == "model") {
        if (value != "1000" && value != "2000") return "model takes 1000 or 2000, not '" + value + "'";
        slot = &m.model;
    } else if (key == "baud") {
        if (value != "4800" && value != "9600" && value != "19200" && value != "38400")
            return "baud takes 4800, 9600, 19200 or 38400, not '" + value + "'";
        slot = &m.baud;
    } else if (key == "parity") {
        if (value != "none" && value != "even" && value != "odd") return "parity takes none, even or odd, not '" + value + "'";
        slot = &m.parity;
    } else {
        return "unknown setting '" + key + "' (model=, baud= or parity=)";
    }
    if (!slot->empty()) return key + " given twice";
    *slot = value;
    return {};
}

}  // namespace

std::string ParseBenchFile(std::istream& in, const std::string& file, std::vector<BenchModule>& modules) {
    std::set<std::string> names;
    std::map<std::string, std::string> paths;  // path -> the module that has it
    int number = 0;
    for (std::string text; std::getline(in, text);) {
        ++number;
        const std::string where = file + ":" + std::to_string(number) + ": ";
        if (const size_t hash = text.find('#'); hash != std::string::npos) text.resize(hash);
        std::istringstream words(text);
        BenchModule m;
        m.line = number;
        if (!(words >> m.name)) continue;  // blank or only a comment
        if (!ValidModuleName(m.name))
            return where + "the name '" + m.name + "' may hold only letters, digits, '-' and '_' (at most 64)";
        if (!names.insert(m.name).second) return where + "the name '" + m.name + "' is given twice";
        if (!(words >> m.path)) return where + "'" + m.name + "' needs the path of its serial device";
        if (m.path.find('=') != std::string::npos && m.path[0] != '/')
            return where + "'" + m.name + "' needs the path of its serial device before '" + m.path + "'";
        // Two consoles cannot hold one device: the second could never open it.
        if (const auto [at, fresh] = paths.emplace(m.path, m.name); !fresh)
            return where + "'" + m.path + "' is the port of '" + at->second + "' already";
        for (std::string word; words >> word;)
            if (std::string bad = TakeSetting(word, m); !bad.empty()) return where + bad;
        modules.push_back(m);
    }
    if (in.bad()) return file + ": cannot be read";
    if (modules.empty()) return file + ": no module in it (a line is: NAME PATH [model=M] [baud=N] [parity=P])";
    return {};
}

std::string ReadBenchFile(const std::string& path, std::vector<BenchModule>& modules) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path + ": is a folder, not a bench file";
    std::ifstream in(path);
    if (!in) return path + ": cannot be opened";
    return ParseBenchFile(in, path, modules);
}

}  // namespace kalvor::bench
