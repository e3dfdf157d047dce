// The results file of a burn-in (kalvor-tp --results), read back for the report: CSV with its
// header line, or JSON Lines (one object a line). Records are read by name, not by position: the
// CSV header's names, the JSON keys in any order; unknown columns and keys are passed over, and a
// column the file does not have is read as empty (files from before a column was added). Nothing
// in it is trusted: every field is checked and the first fault ends the reading with
// "FILE:LINE: what".
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

#include "console/run_events.h"

namespace kalvor::report {

// The columns the recorder writes, in its order.
constexpr int kColumnCount = 34;
extern const char* const kColumns[kColumnCount];
// Without these a file is not a results file.
constexpr int kRequiredCount = 5;
extern const char* const kRequiredColumns[kRequiredCount];

// Who is who: the identity columns after `module`, as the report shows them.
enum IdentityField { kIdPort, kIdDevice, kIdAdapter, kIdModel, kIdStation, kIdentityCount };
extern const char* const kIdentityColumns[kIdentityCount];

// Longest line accepted; a record is a few hundred bytes, so a longer line is not a record.
constexpr size_t kMaxLineBytes = 8192;
// Longest module error text kept (longer texts are cut, with "...").
constexpr size_t kMaxTextBytes = 200;

struct CycleRecord {
    uint32_t run = 0;
    uint32_t cycle = 0;
    char command = 0;           // 'E', 'U' or 'V'
    int32_t dispensed = -1;     // -1: the cycle got no answer
    int32_t rejected = -1;
    int32_t resultCode = -1;    // the answer's result byte, -1 when empty
    CycleEnd ended = CycleEnd::Answered;
    int64_t wallMs = 0;         // milliseconds since 1970-01-01 UTC
    double answerMs = -1;       // write to answer; -1 when empty
    uint32_t resends = 0;
    uint32_t naksSent = 0;
    uint32_t naksReceived = 0;
    uint32_t notices = 0;       // reject notices of all reasons
    uint32_t planned = 0;       // the burn's N; 0 outside a burn
};

// One module: read from one results file, or from every file of the same module together.
struct ModuleResults {
    std::string name;                       // the `module` column, else the file's name as given
    bool named = false;                     // the name is a `module` column's
    std::vector<std::string> files;         // the files read, as given
    // The distinct values of each identity column, in the order first seen.
    std::array<std::vector<std::string>, kIdentityCount> identity;
    std::vector<CycleRecord> cycles;        // in file order
    std::map<int, std::string> errorTexts;  // module error code -> its text (first seen)
};

// Reads `in` (named `name` in messages) into `out`. JSON Lines when `jsonLines`, else CSV.
// Returns an empty string, or "NAME:LINE: what" for the first fault.
std::string ReadResults(std::istream& in, const std::string& name, bool jsonLines, ModuleResults& out);

// Opens and reads the file at `path`: JSON Lines when it ends in ".jsonl", else CSV.
std::string ReadResultsFile(const std::string& path, ModuleResults& out);

// Splits one CSV line into fields (quotes as the recorder writes them: a field in double quotes
// may hold commas and doubled quotes; at most kMaxCsvFields). Empty string or what is wrong.
constexpr size_t kMaxCsvFields = 256;
std::string SplitCsvLine(const std::string& line, std::vector<std::string>& fields);

// Reads one JSON Lines object of the results file into `fields`, in the order of kColumns: its
// keys in any order, each a string, a number or null (null and a missing key become an empty
// field); unknown keys are passed over; the required keys must be there. Empty string or what is
// wrong.
std::string SplitJsonLine(const std::string& line, std::vector<std::string>& fields);

// Parses "2026-12-07T18:45:12.345Z" into milliseconds since 1970; false if it is not that form.
bool ParseWallTime(const std::string& text, int64_t& ms);

}  // namespace kalvor::report
