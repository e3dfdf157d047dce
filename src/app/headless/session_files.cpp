#include "app/headless/session_files.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/headless/app_options.h"
#include "burnin/output_file.h"

namespace kalvor {

namespace {

// What tells one file from another: device and inode when it exists, else the resolved folder
// and the name (two names of a file still to be created). Empty when neither can be had.
std::string Identity(const std::string& path) {
    struct stat st {};
    if (path.empty()) {
        if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    } else if (::stat(path.c_str(), &st) != 0) {
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        char resolved[PATH_MAX];
        if (!::realpath(folder.c_str(), resolved)) return {};
        return std::string("path ") + resolved + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
    }
    return "inode " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace

std::vector<NamedFile> SessionFiles(const AppOptions& options, const std::string& profilePath) {
    std::vector<NamedFile> files;
    if (!options.results.empty()) files.push_back({"the results file", options.results});
    if (options.trace && !options.traceFile.empty()) files.push_back({"the trace file", options.traceFile});
    if (options.headless) files.push_back({"the script", options.script});
    files.push_back({"the profile", profilePath});
    return files;
}

std::string SameFileProblem(const std::vector<NamedFile>& files) {
    std::vector<std::string> ids;
    for (const NamedFile& f : files) ids.push_back(f.path == "/dev/null" ? std::string() : Identity(f.path));
    for (size_t i = 0; i < files.size(); ++i)
        for (size_t j = i + 1; j < files.size(); ++j)
            if (!ids[i].empty() && ids[i] == ids[j])
                return files[i].what + " and " + files[j].what + " are the same file (" +
                       (files[j].path.empty() ? "standard input" : files[j].path) + ")";
    return {};
}

std::string ProfileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};  // missing (created when first written), or told when read
    std::string why = OutputKindProblem(path, st.st_mode);
    if (why.empty() && S_ISREG(st.st_mode) && st.st_size > kMaxProfileBytes)
        why = "it is larger than 1 MiB (" + std::to_string(static_cast<long long>(st.st_size)) + " bytes)";
    return why.empty() ? why : "the profile " + path + " cannot be used: " + why;
}

}  // namespace kalvor
