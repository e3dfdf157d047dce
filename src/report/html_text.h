// Text as it goes into the report's HTML: escaped, valid UTF-8, no control characters; numbers
// and times in one format.
#pragma once

#include <cstdint>
#include <string>

namespace kalvor::report {

// Escapes & < > " ' and replaces invalid UTF-8 and control characters (also NUL) with U+FFFD, so
// that a text field can never open a tag, an attribute or a script, nor break the document.
std::string Escape(const std::string& text);

// "12.35" with `decimals` decimals.
// "1 cycle", "2 cycles": a count with its noun, singular for one.
std::string Counted(uint64_t n, const char* one, const char* many);
std::string Fixed(double value, int decimals);
// 2026-12-07 18:45:12Z (UTC, from milliseconds since 1970).
std::string UtcTime(int64_t ms);
// A span of time for a chart's axis: "42 s", "12 min", "3.5 h".
std::string Span(double ms);

}  // namespace kalvor::report
