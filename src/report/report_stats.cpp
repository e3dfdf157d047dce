#include "report/report_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/html_text.h"

namespace kalvor::report {

bool IsLinkFailure(CycleEnd how) {
    return how == CycleEnd::NoAck || how == CycleEnd::NoAnswer || how == CycleEnd::BadFrames ||
           how == CycleEnd::PortLost;
}

double Percentile(const std::vector<double>& sorted, double p) {
    const size_t n = sorted.size();
    size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(n) - 1e-9));
    rank = std::clamp<size_t>(rank, 1, n);
    return sorted[rank - 1];
}

double Median(const std::vector<double>& sorted) {
    const size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

namespace {

std::string Number(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

}  // namespace


Figures Compute(const std::vector<CycleRecord>& cycles, size_t begin, size_t end, const Limits& limits) {
    Figures f;
    std::vector<double> times;
    times.reserve(end - begin);
    for (size_t i = begin; i < end; ++i) {
        const CycleRecord& r = cycles[i];
        if (f.cycles == 0) f.firstWallMs = f.lastWallMs = r.wallMs;
        f.firstWallMs = std::min(f.firstWallMs, r.wallMs);
        f.lastWallMs = std::max(f.lastWallMs, r.wallMs);
        ++f.cycles;
        if (r.dispensed > 0) f.dispensed += static_cast<uint64_t>(r.dispensed);
        if (r.rejected > 0) f.rejected += static_cast<uint64_t>(r.rejected);
        ++f.endings[static_cast<size_t>(r.ended)];
        if (r.ended == CycleEnd::ModuleError) {
            ++f.moduleErrors;
            ++f.errorsByCode[r.resultCode];
        }
        if (IsLinkFailure(r.ended)) ++f.linkFailures;
        f.resends += r.resends;
        f.naks += static_cast<uint64_t>(r.naksSent) + r.naksReceived;
        if (r.answerMs >= 0) times.push_back(r.answerMs);
    }
    f.timed = static_cast<uint32_t>(times.size());
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        f.minMs = times.front();
        f.maxMs = times.back();
        f.medianMs = Median(times);
        f.p95Ms = Percentile(times, 95);
    }
    const uint64_t notes = f.dispensed + f.rejected;
    if (notes > 0) f.rejectRatePct = 100.0 * static_cast<double>(f.rejected) / static_cast<double>(notes);

    if (f.cycles < limits.minCycles)
        f.outside.push_back(Counted(f.cycles, "cycle", "cycles") + ", fewer than " + std::to_string(limits.minCycles));
    if (f.rejectRatePct > limits.maxRejectRatePct)
        f.outside.push_back("reject rate " + Number(f.rejectRatePct, 2) + " % above " + Number(limits.maxRejectRatePct, 2) + " %");
    if (f.timed > 0 && f.maxMs > limits.maxAnswerMs)
        f.outside.push_back("answer time " + Number(f.maxMs, 1) + " ms above " + Number(limits.maxAnswerMs, 1) + " ms");
    if (f.moduleErrors > limits.maxErrors)
        f.outside.push_back(Counted(f.moduleErrors, "module error", "module errors") + ", more than " + std::to_string(limits.maxErrors));
    if (f.linkFailures > limits.maxLinkFailures)
        f.outside.push_back(Counted(f.linkFailures, "link failure", "link failures") + ", more than " + std::to_string(limits.maxLinkFailures));
    return f;
}

namespace {

// The burns in the records: consecutive cycles with the same plan, a new burn when the plan
// changes or the burn before has all its cycles.
void JudgeBurns(const std::vector<CycleRecord>& cycles, Figures& f) {
    size_t i = 0;
    while (i < cycles.size()) {
        const uint32_t planned = cycles[i].planned;
        size_t j = i;
        bool moduleError = false;
        while (j < cycles.size() && cycles[j].planned == planned && (planned == 0 || j - i < planned)) {
            moduleError = moduleError || cycles[j].ended == CycleEnd::ModuleError;
            ++j;
        }
        if (planned > 0) {
            f.planned += planned;
            if (j - i < planned && !moduleError) {
                f.earlyCycles += static_cast<uint32_t>(j - i);
                f.earlyPlanned += planned;
            }
        }
        i = j;
    }
    if (f.earlyPlanned > 0)
        f.outside.insert(f.outside.begin(), "ended early: " + std::to_string(f.earlyCycles) + " of " +
                                                std::to_string(f.earlyPlanned) + " cycles");
}

}  // namespace

ModuleFigures ComputeModule(const ModuleResults& module, const Limits& limits) {
    ModuleFigures m;
    m.total = Compute(module.cycles, 0, module.cycles.size(), limits);
    JudgeBurns(module.cycles, m.total);
    // A run's own verdict knows nothing of the whole file's cycle count.
    Limits runLimits = limits;
    runLimits.minCycles = 0;
    size_t i = 0;
    while (i < module.cycles.size()) {
        size_t j = i;
        while (j < module.cycles.size() && module.cycles[j].run == module.cycles[i].run) ++j;
        RunFigures run;
        run.run = module.cycles[i].run;
        run.begin = i;
        run.end = j;
        run.figures = Compute(module.cycles, i, j, runLimits);
        m.runs.push_back(std::move(run));
        i = j;
    }
    return m;
}

}  // namespace kalvor::report
