// Splitting one line of a results file into its fields: CSV as the recorder quotes it, and the
// flat JSON object of JSON Lines.
#include <cstdint>
#include <string>
#include <vector>

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
        if (fields.size() >= kColumnCount) return "more than " + std::to_string(kColumnCount) + " fields";
        fields.push_back(field);
        if (i >= n) break;
        ++i;  // the comma
    }
    if (fields.size() != kColumnCount)
        return std::to_string(fields.size()) + " fields, expected " + std::to_string(kColumnCount);
    return {};
}

namespace {

class JsonCursor {
public:
    explicit JsonCursor(const std::string& s) : m_s(s) {}
    void SkipSpace() {
        while (m_i < m_s.size() && (m_s[m_i] == ' ' || m_s[m_i] == '\t' || m_s[m_i] == '\r' || m_s[m_i] == '\n')) ++m_i;
    }
    bool Take(char c) {
        SkipSpace();
        if (m_i < m_s.size() && m_s[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        SkipSpace();
        return m_i >= m_s.size();
    }
    char Peek() {
        SkipSpace();
        return m_i < m_s.size() ? m_s[m_i] : '\0';
    }

    // A JSON string (the opening quote is next); escapes decoded into UTF-8.
    std::string String(std::string& out) {
        out.clear();
        if (!Take('"')) return "a string expected";
        while (m_i < m_s.size()) {
            const unsigned char c = static_cast<unsigned char>(m_s[m_i++]);
            if (c == '"') return {};
            if (c < 0x20) return "a control character inside a string";
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (m_i >= m_s.size()) break;
            const char e = m_s[m_i++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!Hex4(cp)) return "a bad \\u escape";
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low = 0;
                    if (m_i + 1 >= m_s.size() || m_s[m_i] != '\\' || m_s[m_i + 1] != 'u') return "a lone surrogate";
                    m_i += 2;
                    if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return "a lone surrogate";
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return "a lone surrogate";
                }
                AppendUtf8(out, cp);
                break;
            }
            default: return "a bad escape in a string";
            }
        }
        return "a string is not closed";
    }

    // A JSON number, kept as written (the grammar is checked).
    std::string Number(std::string& out) {
        SkipSpace();
        const size_t start = m_i;
        if (m_i < m_s.size() && m_s[m_i] == '-') ++m_i;
        if (m_i < m_s.size() && m_s[m_i] == '0') {
            ++m_i;
        } else if (!Digits()) {
            return "a value expected";
        }
        if (m_i < m_s.size() && m_s[m_i] == '.') {
            ++m_i;
            if (!Digits()) return "a bad number";
        }
        if (m_i < m_s.size() && (m_s[m_i] == 'e' || m_s[m_i] == 'E')) {
            ++m_i;
            if (m_i < m_s.size() && (m_s[m_i] == '+' || m_s[m_i] == '-')) ++m_i;
            if (!Digits()) return "a bad number";
        }
        out.assign(m_s, start, m_i - start);
        return {};
    }

    bool Word(const char* w) {
        SkipSpace();
        const std::string word(w);
        if (m_s.compare(m_i, word.size(), word) != 0) return false;
        m_i += word.size();
        return true;
    }

private:
    bool Digits() {
        const size_t start = m_i;
        while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9') ++m_i;
        return m_i > start;
    }
    bool Hex4(uint32_t& v) {
        if (m_i + 4 > m_s.size()) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = m_s[m_i++];
            v <<= 4;
            if (h >= '0' && h <= '9') v |= static_cast<uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f') v |= static_cast<uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') v |= static_cast<uint32_t>(h - 'A' + 10);
            else return false;
        }
        return true;
    }
    static void AppendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    const std::string& m_s;
    size_t m_i = 0;
};

}  // namespace

std::string SplitJsonLine(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    JsonCursor in(line);
    if (!in.Take('{')) return "not a JSON object";
    std::string key, value;
    for (int k = 0; k < kColumnCount; ++k) {
        if (k > 0 && !in.Take(',')) return "the object ends after " + std::to_string(k) + " keys, expected " + std::to_string(kColumnCount);
        if (std::string e = in.String(key); !e.empty()) return e;
        if (key != kColumns[k]) return "key '" + key.substr(0, 40) + "' where '" + kColumns[k] + "' belongs";
        if (!in.Take(':')) return "':' expected after '" + key + "'";
        const char c = in.Peek();
        if (c == '"') {
            if (std::string e = in.String(value); !e.empty()) return e + " (" + key + ")";
        } else if (c == 'n') {
            if (!in.Word("null")) return "a bad value for '" + key + "'";
            value.clear();
        } else if (c == 't' || c == 'f' || c == '{' || c == '[') {
            return "'" + key + "' is neither a number, a text nor null";
        } else {
            if (std::string e = in.Number(value); !e.empty()) return e + " (" + key + ")";
        }
        fields.push_back(value);
    }
    if (!in.Take('}')) return "more keys than the " + std::to_string(kColumnCount) + " columns";
    if (!in.AtEnd()) return "text after the object";
    return {};
}

}  // namespace kalvor::report
