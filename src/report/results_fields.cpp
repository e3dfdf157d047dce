// Splitting one line of a results file into its fields: CSV as the recorder quotes it, and the
// flat JSON object of JSON Lines (read with nlohmann-json, by key).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/results_file.h"

namespace kalvor::report {

std::string SplitCsvLine(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        field.clear();
        if (i < n && line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (line[i] == '"') {
                    if (i + 1 < n && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                field += line[i++];
            }
            if (!closed) return "a quoted field is not closed";
            if (i < n && line[i] != ',') return "text after a closing quote";
        } else {
            while (i < n && line[i] != ',') {
                if (line[i] == '"') return "a quote inside an unquoted field";
                field += line[i++];
            }
        }
        if (fields.size() >= kMaxCsvFields) return "more than " + std::to_string(kMaxCsvFields) + " fields";
        fields.push_back(field);
        if (i >= n) break;
        ++i;  // the comma
    }
    return {};
}

namespace {

// A JSON number as the report's fields take it: integers as they are, other numbers with at most
// six decimals and no trailing zeros (812.345, not 812.34500000000003).
std::string NumberText(const nlohmann::json& v) {
    if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
    if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", v.get<double>());
    std::string s = text;
    if (s.size() >= sizeof text - 1) return "a number too large";
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

int ColumnIndex(const std::string& key) {
    for (int k = 0; k < kColumnCount; ++k)
        if (key == kColumns[k]) return k;
    return -1;
}

}  // namespace

std::string SplitJsonLine(const std::string& line, std::vector<std::string>& fields) {
    fields.assign(kColumnCount, std::string());
    const size_t first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || line[first] != '{') return "not a JSON object";
    // No exceptions: a line that is not JSON comes back discarded.
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_discarded()) return "not valid JSON";
    if (!object.is_object()) return "not a JSON object";
    for (const auto& [key, value] : object.items()) {
        const int k = ColumnIndex(key);
        if (k < 0) continue;  // another tool's key
        std::string& field = fields[static_cast<size_t>(k)];
        if (value.is_string()) field = value.get<std::string>();
        else if (value.is_number()) field = NumberText(value);
        else if (!value.is_null()) return "'" + key + "' is neither a number, a text nor null";
    }
    for (const char* required : kRequiredColumns)
        if (!object.contains(required)) return std::string("no key '") + required + "'";
    return {};
}

}  // namespace kalvor::report
