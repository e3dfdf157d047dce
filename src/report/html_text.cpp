#include "report/html_text.h"

#include <cstdio>

namespace kalvor::report {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t len = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    // No overlong forms, no surrogates, nothing above U+10FFFF, no C1 controls.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    if (cp >= 0x80 && cp <= 0x9F) return 0;
    if (cp == 0xFFFE || cp == 0xFFFF) return 0;
    return len;
}

}  // namespace

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                // A line break (a module error's text holds one) is white space in HTML; other
                // controls are shown as the replacement character.
                if ((c < 0x20 && c != '\n') || c == 0x7F) out += "\xEF\xBF\xBD";
                else out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const size_t len = Utf8Length(text, i);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

std::string Counted(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Fixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

std::string UtcTime(int64_t ms) {
    int64_t secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const int64_t rem = secs - days * 86400;
    // Civil date from days since 1970-01-01.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02dZ", static_cast<int>(y % 100000), static_cast<int>(m),
                  static_cast<int>(d), static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60), static_cast<int>(rem % 60));
    return buf;
}

std::string Span(double ms) {
    auto round = [](double v) { return Fixed(v, v == static_cast<double>(static_cast<int64_t>(v)) ? 0 : 1); };
    if (ms < 120000) return round(ms / 1000) + " s";
    if (ms < 2 * 3600000.0) return round(ms / 60000) + " min";
    if (ms < 72 * 3600000.0) return round(ms / 3600000) + " h";
    return round(ms / 86400000) + " d";
}

}  // namespace kalvor::report
