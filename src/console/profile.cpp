#include "console/profile.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace kalvor {

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void MakeParentDirs(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

}  // namespace

IniProfile::IniProfile(std::string path) : m_path(std::move(path)) {}

std::string IniProfile::DefaultPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string dir;
    if (xdg && *xdg) {
        dir = xdg;
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : ".") + "/.config";
    }
    return dir + "/kalvor-tp.ini";
}

std::string IniProfile::GetString(const std::string& section, const std::string& key,
                                  const std::string& fallback) {
    std::string current;
    for (const std::string& raw : ReadLines(m_path)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            current = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || !SameName(current, section)) continue;
        if (SameName(Trim(line.substr(0, eq)), key)) return Trim(line.substr(eq + 1));
    }
    return fallback;
}

bool IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
    std::vector<std::string> lines = ReadLines(m_path);
    std::string current;
    int sectionEnd = -1;  // index after the last line of the wanted section
    bool done = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        const std::string line = Trim(lines[i]);
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            current = Trim(line.substr(1, line.size() - 2));
            if (SameName(current, section)) sectionEnd = static_cast<int>(i) + 1;
            continue;
        }
        if (!SameName(current, section)) continue;
        if (!line.empty()) sectionEnd = static_cast<int>(i) + 1;
        const size_t eq = line.find('=');
        if (eq != std::string::npos && SameName(Trim(line.substr(0, eq)), key)) {
            lines[i] = key + "=" + value;
            done = true;
        }
    }
    if (!done) {
        if (sectionEnd < 0) {
            if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(key + "=" + value);
        } else {
            lines.insert(lines.begin() + sectionEnd, key + "=" + value);
        }
    }
    // Write a new file beside the old one and rename it, so a crash never leaves half a profile.
    MakeParentDirs(m_path);
    const std::string tmp = m_path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out) return false;
        for (const std::string& l : lines) out << l << '\n';
        if (!out.flush()) return false;
    }
    return std::rename(tmp.c_str(), m_path.c_str()) == 0;
}

}  // namespace kalvor
