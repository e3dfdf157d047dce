// The figures of a burn-in, per module (a results file) and per run, and the verdict against the
// limits.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "report/results_file.h"

namespace kalvor::report {

struct Limits {
    double maxRejectRatePct = 2.0;  // --max-reject-rate PCT
    double maxAnswerMs = 15000;     // --max-answer-ms MS: the longest answer time allowed
    uint32_t maxErrors = 0;         // --max-errors N: module errors
    uint32_t maxLinkFailures = 0;   // --max-link-failures N: no ACK, no answer, bad frames, port lost
    uint32_t minCycles = 1;         // --min-cycles N
};

constexpr int kEndingCount = kCycleEndCount;

// Whether an ending is a fault of the link (counted against --max-link-failures). "replaced" and
// "interrupted" come from the operator, not the module, and are only shown.
bool IsLinkFailure(CycleEnd how);

// Percentile by the nearest-rank method: the value at rank ceil(p/100 * n) of the sorted values
// (1-based). The median is the mean of the two middle values for an even count. `sorted` must
// be sorted and not empty.
double Percentile(const std::vector<double>& sorted, double p);
double Median(const std::vector<double>& sorted);

struct Figures {
    uint32_t cycles = 0;
    uint64_t dispensed = 0;
    uint64_t rejected = 0;
    uint32_t moduleErrors = 0;
    uint32_t linkFailures = 0;
    uint64_t resends = 0;
    uint64_t naks = 0;  // sent and received
    std::array<uint32_t, kEndingCount> endings{};
    std::map<int, uint32_t> errorsByCode;  // result code -> cycles
    // Answer times (write to answer) of the cycles that have one.
    uint32_t timed = 0;
    double minMs = 0, medianMs = 0, p95Ms = 0, maxMs = 0;
    int64_t firstWallMs = 0, lastWallMs = 0;
    // Burns (the script's `burn N`) that wrote fewer cycles than planned without a module error:
    // their cycles and their plans, added up.
    uint32_t earlyCycles = 0;
    uint64_t earlyPlanned = 0;
    uint64_t planned = 0;  // the plans of every burn
    // Reject rate in percent: rejected / (dispensed + rejected) * 100; -1 when no note moved.
    double rejectRatePct = -1;
    // Empty when within the limits, else why not.
    std::vector<std::string> outside;
    bool Pass() const { return outside.empty(); }
};

// The figures of cycles [begin, end) of a module, judged against `limits`.
Figures Compute(const std::vector<CycleRecord>& cycles, size_t begin, size_t end, const Limits& limits);

struct RunFigures {
    uint32_t run = 0;
    size_t begin = 0, end = 0;  // the run's cycles in the module's list
    Figures figures;
};

struct ModuleFigures {
    Figures total;
    std::vector<RunFigures> runs;
};

// The module's figures; a module that ended a burn early is outside the limits ("ended early:
// 10 of 500 cycles").
ModuleFigures ComputeModule(const ModuleResults& module, const Limits& limits);

}  // namespace kalvor::report
