#include "app/window/window_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/window/window_module_abi.h"

namespace kalvor {

namespace {

std::string ProgramPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    return std::string(path, static_cast<size_t>(n));
}

// The places looked at, in order, for a program at `programPath`.
std::vector<std::string> WindowModuleCandidates(const std::string& programPath) {
    // Only beside the program itself: never the working folder or a library search path.
    const size_t slash = programPath.rfind('/');
    if (programPath.empty() || programPath[0] != '/' || slash == std::string::npos) return {};
    const std::string dir = programPath.substr(0, slash);  // "" for a program in /
    return {dir + "/" + kWindowModuleFile, dir + "/../lib/kalvor-tp/" + kWindowModuleFile};
}

}  // namespace

int RunWindowModule(int argc, char** argv, const AppOptions& options) {
    std::string tried;
    for (const std::string& path : WindowModuleCandidates(ProgramPath())) {
        if (::access(path.c_str(), F_OK) != 0) {
            tried += "\n  " + path + ": not there";
            continue;
        }
        // Kept loaded to the end: Qt is not made to be unloaded.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* why = ::dlerror();
            tried += "\n  " + path + ": " + (why ? why : "cannot be loaded");
            continue;
        }
        auto version = reinterpret_cast<WindowVersionFn>(::dlsym(module, kWindowVersionSymbol));
        auto run = reinterpret_cast<RunWindowFn>(::dlsym(module, kWindowRunSymbol));
        if (!version || !run || std::strcmp(version(), kProgramVersion) != 0) {
            tried += "\n  " + path + ": not the window of kalvor-tp " + kProgramVersion;
            continue;
        }
        return run(argc, argv, &options, sizeof(AppOptions));
    }
    std::cerr << "kalvor-tp: cannot start the window (use --headless without it):" << tried << "\n";
    return kExitBadOptions;
}

}  // namespace kalvor
