// Command line of the zeda-sim program, kept in the library so that it can be tested and reused.
#pragma once

#include <string>
#include <vector>

#include "zeda_simulator.h"

namespace zeda {

struct CliConfig {
    SimOptions options;
    std::string device;  // empty: create a pseudo-terminal
    std::string link;    // --link PATH: a symbolic link to the served line, made at start, removed at exit
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. Options take their value as "--opt=VALUE" or "--opt VALUE".
// On failure returns false with a one-line reason in `error`.
bool ParseCommandLine(const std::vector<std::string>& args, CliConfig& out, std::string& error);

// A model name as zeda-sim and kalvor-tp take it: "zeda1000", "zeda2000", "1000" or "2000", in any
// case. Returns 1000 or 2000, or 0 for anything else.
int ParseModelName(const std::string& name);

// The --help text.
std::string UsageText(const std::string& program);

// Makes `link` a symbolic link to `target`, replacing an earlier symbolic link of that name (a
// simulator that was killed leaves one) but never another kind of file. False with the reason.
bool MakeLink(const std::string& link, const std::string& target, std::string& error);
// Removes `link` if it still leads to `target` (a later simulator may have taken the name).
void RemoveLink(const std::string& link, const std::string& target);

// The --version line.
std::string VersionText();

}  // namespace zeda
