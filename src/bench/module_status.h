// What the supervisor knows of one module: its state and the figures of the live table, kept up
// from the session's run-event lines (src/app/headless/event_pipe.h), and the line splitting of
// what a child writes on its pipes.
#pragma once

#include "app/headless/script_check.h"

#include <string>
#include <vector>

namespace kalvor::bench {

enum class ModuleState { Waiting, Running, Done, Failed };
const char* StateName(ModuleState state);

struct ModuleStatus {
    ModuleState state = ModuleState::Waiting;
    unsigned cycles = 0;          // written and ended (answered or failed)
    unsigned planned = 0;         // N of "cycle n of N": the script's burn total, else the runs' repeat counts
    unsigned dispensed = 0;
    unsigned rejected = 0;
    unsigned moduleErrors = 0;
    unsigned linkGiveUps = 0;     // cycles ended by no ACK, no answer or bad frames
    std::string lastAnswerMs;     // as sent, "-" before the first answer
    bool portOpened = false;
    unsigned portLost = 0;
    // Set by an event line worth a plain line of --progress: the line, else empty.
    std::string progressLine;
};

// Applies one event line; unknown lines are ignored (a newer session may say more).
// `burnPlanned`: the script's burn total (0 when it has none).
void ApplyEvent(const std::string& line, unsigned burnPlanned, ModuleStatus& status);

// Takes the complete lines out of `buffer` (without their '\n'), leaving an unfinished one; a line
// longer than `maxLine` is cut there, so a child that never ends a line cannot grow it forever.
std::vector<std::string> TakeLines(std::string& buffer, size_t maxLine = 4096);

// The cycles that the `burn N` lines of a checked script ask for in all (0 when there are none).
unsigned BurnCycles(const std::vector<ScriptLine>& script);

}  // namespace kalvor::bench
