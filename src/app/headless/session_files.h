// The files a session names (results, trace, script, profile), checked before any of them is
// written: no two may be one file (by any name, a link, or a second path to it), and the
// profile must be a regular file of at most 1 MiB. Nothing here opens a file for writing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kalvor {

struct AppOptions;

constexpr off_t kMaxProfileBytes = 1 << 20;

struct NamedFile {
    std::string what;  // "the results file", ...
    std::string path;  // empty: standard input (the script)
};

// The files of a session by the options: results, trace, script (standard input when no
// --script names one) and the profile at `profilePath`.
std::vector<NamedFile> SessionFiles(const AppOptions& options, const std::string& profilePath);

// Empty when no two of `files` are the same file; else "the results file and the trace file are
// the same file (PATH)". A file that does not exist yet is named by its resolved folder and name.
// /dev/null may be named twice.
std::string SameFileProblem(const std::vector<NamedFile>& files);

// Empty when the profile at `path` may be read and written (missing, or a regular file of at
// most 1 MiB); else the reason.
std::string ProfileProblem(const std::string& path);

}  // namespace kalvor
