// The bench file: one module a line, `NAME PATH [model=1000|2000] [baud=4800|9600|19200|38400]
// [parity=none|even|odd]`; '#' starts a comment, blank lines are skipped. NAME is letters, digits,
// '-' and '_', unique in the file; PATH is any serial device path.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace kalvor::bench {

struct BenchModule {
    std::string name;
    std::string path;
    std::string model;   // "1000", "2000" or empty: the session's default
    std::string baud;    // "4800" ... "38400" or empty
    std::string parity;  // "none", "even", "odd" or empty
    int line = 0;        // where it stands in the file
};

// Reads the modules from `in`; on a bad line returns "FILE:LINE: reason" (`file` as given),
// else an empty string. A file without any module is refused too.
std::string ParseBenchFile(std::istream& in, const std::string& file, std::vector<BenchModule>& modules);
// The same from the file at `path`.
std::string ReadBenchFile(const std::string& path, std::vector<BenchModule>& modules);

}  // namespace kalvor::bench
