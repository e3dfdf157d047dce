// Reading a results file line by line, with a bounded line length, and checking every record.
#include "report/results_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

namespace kalvor::report {

const char* const kColumns[kColumnCount] = {
    "run", "cycle", "command", "upper_request", "lower_request", "dispensed", "rejected",
    "result_code", "result_text", "upper_empty", "lower_empty", "write_to_ack_ms", "ack_to_answer_ms",
    "ended", "wall_time", "write_to_answer_ms", "resends", "naks_sent", "naks_received",
    "upper_dispensed", "lower_dispensed", "upper_rejected", "lower_rejected", "notices_double",
    "notices_length", "notices_nearing", "notices_other", "module", "port", "device", "adapter",
    "model", "station", "planned"};
const char* const kRequiredColumns[kRequiredCount] = {"run", "cycle", "command", "ended", "wall_time"};
const char* const kIdentityColumns[kIdentityCount] = {"port", "device", "adapter", "model", "station"};

namespace {

enum Column {
    kRun, kCycle, kCommand, kUpperRequest, kLowerRequest, kDispensed, kRejected, kResultCode,
    kResultText, kUpperEmpty, kLowerEmpty, kWriteToAck, kAckToAnswer, kEnded, kWallTime,
    kWriteToAnswer, kResends, kNaksSent, kNaksReceived, kUpperDispensed, kLowerDispensed,
    kUpperRejected, kLowerRejected, kNoticesDouble, kNoticesLength, kNoticesNearing, kNoticesOther,
    kModule, kPort, kDevice, kAdapter, kModel, kStation, kPlanned,
};

// A text of the file kept for the page: cut at kMaxTextBytes.
std::string Kept(const std::string& text) {
    return text.size() > kMaxTextBytes ? text.substr(0, kMaxTextBytes) + "..." : text;
}

bool ParseUint(const std::string& s, uint32_t max, uint32_t& v) {
    if (s.empty() || s.size() > 10) return false;
    uint64_t x = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        x = x * 10 + static_cast<uint64_t>(c - '0');
    }
    if (x > max) return false;
    v = static_cast<uint32_t>(x);
    return true;
}

// Milliseconds as the recorder writes them: digits, and at most six decimals.
bool ParseMs(const std::string& s, double& v) {
    size_t i = 0;
    double whole = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i < 9) whole = whole * 10 + (s[i++] - '0');
    if (i == 0) return false;
    double frac = 0, scale = 1;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 6) {
            frac = frac * 10 + (s[i++] - '0');
            scale *= 10;
        }
        if (i == start) return false;
    }
    if (i != s.size()) return false;
    v = whole + frac / scale;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool CycleEndOf(const std::string& s, CycleEnd& how) {
    for (int k = 0; k < kCycleEndCount; ++k) {
        if (s == CycleEndName(static_cast<CycleEnd>(k))) {
            how = static_cast<CycleEnd>(k);
            return true;
        }
    }
    return false;
}

// A field shown in a message: cut short, and only printable ASCII.
std::string Shown(const std::string& s) {
    std::string out;
    for (char c : s.substr(0, 32)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (s.size() > 32) out += "...";
    return "'" + out + "'";
}

std::string Bad(int column, const std::string& value, const char* what) {
    return std::string(kColumns[column]) + " " + Shown(value) + " is not " + what;
}

std::string ToRecord(const std::vector<std::string>& f, CycleRecord& r, ModuleResults& out) {
    if (!ParseUint(f[kRun], 1000000000, r.run) || r.run == 0) return Bad(kRun, f[kRun], "a run number");
    if (!ParseUint(f[kCycle], 1000000000, r.cycle) || r.cycle == 0) return Bad(kCycle, f[kCycle], "a cycle number");
    if (f[kCommand] != "E" && f[kCommand] != "U" && f[kCommand] != "V") return Bad(kCommand, f[kCommand], "E, U or V");
    r.command = f[kCommand][0];
    for (int c : {kUpperRequest, kLowerRequest}) {
        const std::string& s = f[c];
        if (!s.empty() && (s.size() != 2 || s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9'))
            return Bad(c, s, "two digits");
    }
    uint32_t v = 0;
    for (int c : {kDispensed, kRejected, kUpperDispensed, kLowerDispensed, kUpperRejected, kLowerRejected}) {
        if (!f[c].empty() && !ParseUint(f[c], 99999, v)) return Bad(c, f[c], "a count of notes");
    }
    r.dispensed = f[kDispensed].empty() ? -1 : static_cast<int32_t>(std::stoul(f[kDispensed]));
    r.rejected = f[kRejected].empty() ? -1 : static_cast<int32_t>(std::stoul(f[kRejected]));
    r.resultCode = -1;
    if (!f[kResultCode].empty()) {
        const std::string& s = f[kResultCode];
        if (s.size() != 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0) return Bad(kResultCode, s, "two hex digits");
        r.resultCode = HexDigit(s[0]) * 16 + HexDigit(s[1]);
    }
    for (int c : {kUpperEmpty, kLowerEmpty}) {
        if (f[c].size() > 1) return Bad(c, f[c], "one indicator byte");
    }
    double ms = 0;
    for (int c : {kWriteToAck, kAckToAnswer, kWriteToAnswer}) {
        if (!f[c].empty() && !ParseMs(f[c], ms)) return Bad(c, f[c], "a time in milliseconds");
    }
    r.answerMs = -1;
    if (!f[kWriteToAnswer].empty()) ParseMs(f[kWriteToAnswer], r.answerMs);
    if (!CycleEndOf(f[kEnded], r.ended)) return Bad(kEnded, f[kEnded], "a known ending");
    if (!ParseWallTime(f[kWallTime], r.wallMs)) return Bad(kWallTime, f[kWallTime], "a UTC time like 2026-12-07T18:45:12.345Z");
    uint32_t* counts[] = {&r.resends, &r.naksSent, &r.naksReceived};
    for (int k = 0; k < 3; ++k) {
        const int c = kResends + k;
        *counts[k] = 0;
        if (!f[c].empty() && !ParseUint(f[c], 1000000, *counts[k])) return Bad(c, f[c], "a count");
    }
    r.notices = 0;
    for (int c = kNoticesDouble; c <= kNoticesOther; ++c) {
        if (f[c].empty()) continue;
        if (!ParseUint(f[c], 1000000, v)) return Bad(c, f[c], "a count");
        r.notices += v;
    }
    r.planned = 0;
    if (!f[kPlanned].empty() && !ParseUint(f[kPlanned], 1000000000, r.planned)) return Bad(kPlanned, f[kPlanned], "a count of cycles");
    if (r.ended == CycleEnd::ModuleError && r.resultCode >= 0 && !out.errorTexts.count(r.resultCode))
        out.errorTexts[r.resultCode] = Kept(f[kResultText]);
    // Who is who: one module a file (its name, else the file's); the other columns as they come.
    if (!f[kModule].empty()) {
        const std::string module = Kept(f[kModule]);
        if (!out.named) out.name = module, out.named = true;
        else if (module != out.name) return "module " + Shown(module) + " in a file of module " + Shown(out.name);
    }
    for (int k = 0; k < kIdentityCount; ++k) {
        const std::string& v = f[kPort + k];
        std::vector<std::string>& seen = out.identity[static_cast<size_t>(k)];
        if (v.empty() || (!seen.empty() && seen.back() == v)) continue;
        if (std::find(seen.begin(), seen.end(), v) == seen.end() && seen.size() < 16) seen.push_back(Kept(v));
    }
    return {};
}

// The header's names mapped to the columns: `where[k]` is the position of kColumns[k] in a row,
// or -1 when the file has no such column. Unknown names are passed over.
std::string ReadHeader(const std::string& line, std::vector<int>& where, size_t& width) {
    if (!line.empty() && line[0] >= '0' && line[0] <= '9') return "no header line (a results file starts with 'run,cycle,command,...')";
    std::vector<std::string> names;
    if (std::string e = SplitCsvLine(line, names); !e.empty()) return "not the header of a results file: " + e;
    where.assign(kColumnCount, -1);
    for (size_t i = 0; i < names.size(); ++i) {
        for (int k = 0; k < kColumnCount; ++k) {
            if (names[i] != kColumns[k]) continue;
            if (where[static_cast<size_t>(k)] >= 0) return "not the header of a results file: column '" + names[i] + "' twice";
            where[static_cast<size_t>(k)] = static_cast<int>(i);
        }
    }
    for (const char* required : kRequiredColumns) {
        for (int k = 0; k < kColumnCount; ++k)
            if (std::string(required) == kColumns[k] && where[static_cast<size_t>(k)] < 0)
                return std::string("not the header of a results file: no column '") + required + "'";
    }
    width = names.size();
    return {};
}

}  // namespace

bool ParseWallTime(const std::string& t, int64_t& ms) {
    // 2026-12-07T18:45:12.345Z
    static const char shape[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (t.size() != sizeof shape - 1) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        if (shape[i] == 'd' ? (t[i] < '0' || t[i] > '9') : t[i] != shape[i]) return false;
    }
    auto num = [&](size_t at, size_t len) {
        int v = 0;
        for (size_t i = at; i < at + len; ++i) v = v * 10 + (t[i] - '0');
        return v;
    };
    const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2);
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
    // Days from 1970-01-01 of a proleptic Gregorian date.
    const int yy = y - (mo <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    ms = ((days * 24 + h) * 60 + mi) * 60000LL + s * 1000LL + num(20, 3);
    return true;
}

namespace {

std::string ReadRecords(std::istream& in, const std::string& name, bool jsonLines, ModuleResults& out) {
    out = ModuleResults{};
    out.name = name;
    out.files = {name};
    std::string line;
    line.reserve(256);
    std::vector<std::string> fields, row;
    fields.reserve(kColumnCount);
    std::vector<int> where;  // CSV: the position of each column in a row
    size_t width = 0;        // CSV: the header's number of columns
    char buffer[65536];
    size_t lineNo = 0;
    bool headerSeen = jsonLines;
    bool tooLong = false;
    bool first = true;
    uint32_t prevRun = 0, runOffset = 0;  // the last record's run as written; what is added to it

    auto fail = [&](const std::string& what) { return name + ":" + std::to_string(lineNo) + ": " + what; };
    auto finish = [&](bool lastWithoutNewline) -> std::string {
        ++lineNo;
        if (tooLong) return fail("a line longer than " + std::to_string(kMaxLineBytes) + " bytes");
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        first = false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) return fail("a NUL byte");
        const char* cut = lastWithoutNewline ? " (the file ends inside this line)" : "";
        if (!headerSeen) {
            if (std::string e = ReadHeader(line, where, width); !e.empty()) return fail(e + cut);
            headerSeen = true;
            return {};
        }
        if (line.find_first_not_of(" \t") == std::string::npos) return {};  // a blank line
        if (jsonLines) {
            if (std::string e = SplitJsonLine(line, fields); !e.empty()) return fail(e + cut);
        } else {
            if (std::string e = SplitCsvLine(line, row); !e.empty()) return fail(e + cut);
            if (row.size() > width) return fail("more than " + std::to_string(width) + " fields" + cut);
            if (row.size() < width)
                return fail(std::to_string(row.size()) + " fields, expected " + std::to_string(width) + cut);
            fields.assign(kColumnCount, std::string());
            for (int k = 0; k < kColumnCount; ++k)
                if (where[static_cast<size_t>(k)] >= 0) fields[static_cast<size_t>(k)].swap(row[static_cast<size_t>(where[static_cast<size_t>(k)])]);
        }
        CycleRecord r;
        if (std::string bad = ToRecord(fields, r, out); !bad.empty()) return fail(bad + cut);
        if (!out.cycles.empty()) {
            const CycleRecord& prev = out.cycles.back();
            if (r.run == 1 && r.cycle == 1) {
                // A session appended to the file (--append) starts again at run 1: its runs are
                // numbered on from the file's last.
                if (prev.run > 3000000000u) return fail("more runs than the report counts");
                runOffset = prev.run;
            } else if (r.run < prevRun) {
                return fail("run " + std::to_string(r.run) + " after run " + std::to_string(prevRun) + ": runs out of order");
            } else if (r.run == prevRun && r.cycle <= prev.cycle) {
                return fail("cycle " + std::to_string(r.cycle) + " of run " + std::to_string(r.run) + " after cycle " +
                            std::to_string(prev.cycle) + ": cycles out of order");
            }
        }
        prevRun = r.run;
        r.run += runOffset;
        out.cycles.push_back(r);
        return {};
    };

    bool quoted = false;  // CSV: inside a quoted field, where a line break is part of the field
    while (in) {
        in.read(buffer, sizeof buffer);
        const size_t got = static_cast<size_t>(in.gcount());
        size_t start = 0;
        for (size_t i = 0; i < got; ++i) {
            if (buffer[i] == '"' && !jsonLines) quoted = !quoted;
            if (buffer[i] != '\n' || quoted) continue;
            if (!tooLong) line.append(buffer + start, i - start);
            if (!tooLong && line.size() > kMaxLineBytes) tooLong = true;
            if (std::string e = finish(false); !e.empty()) return e;
            line.clear();
            tooLong = false;
            start = i + 1;
        }
        if (!tooLong) {
            line.append(buffer + start, got - start);
            if (line.size() > kMaxLineBytes) {
                tooLong = true;
                line.clear();
                line.shrink_to_fit();
            }
        }
    }
    if (in.bad()) return name + ": read error";
    if (!line.empty() || tooLong) {
        if (std::string e = finish(true); !e.empty()) return e;
    }
    if (!headerSeen) return name + ": empty file, no header line";
    return {};
}

}  // namespace

std::string ReadResults(std::istream& in, const std::string& name, bool jsonLines, ModuleResults& out) {
    std::string error = ReadRecords(in, name, jsonLines, out);
    // A file that cannot be read is named as given, whatever its records said.
    if (!error.empty()) out.name = name, out.named = false;
    return error;
}

std::string ReadResultsFile(const std::string& path, ModuleResults& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot read it (" + std::strerror(errno) + ")";
    const bool jsonLines = path.size() >= 6 && path.compare(path.size() - 6, 6, ".jsonl") == 0;
    return ReadResults(in, path, jsonLines, out);
}

}  // namespace kalvor::report
