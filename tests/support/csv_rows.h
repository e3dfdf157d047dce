// Results files as the tests read them: rows of fields, unquoted; a quoted field may hold a line
// break (a module error's text does).
#pragma once

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace kalvor::test {

inline std::vector<std::vector<std::string>> ReadCsv(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    for (std::string line, more; std::getline(in, line);) {
        while (std::count(line.begin(), line.end(), '"') % 2 && std::getline(in, more)) line += "\n" + more;
        std::vector<std::string> fields;
        std::string field;
        bool quoted = false;
        for (char c : line) {
            if (c == '"') quoted = !quoted;
            else if (c == ',' && !quoted) fields.push_back(field), field.clear();
            else field += c;
        }
        fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

}  // namespace kalvor::test
