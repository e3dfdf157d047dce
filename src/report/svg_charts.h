// The report's four charts as inline SVG, one per module, drawn on scales shared by all the
// modules of a report so that they can be compared side by side.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report/report_stats.h"
#include "report/results_file.h"

namespace kalvor::report {

struct ChartScales {
    size_t cycles = 1;       // x of the per-cycle charts: the longest module
    double answerMs = 1;     // y of the answer-time chart, x of the histogram
    double limitMs = 0;      // the answer-time limit, drawn when it falls on the chart
    uint32_t binCount = 1;   // y of the histogram: the fullest bin
    uint64_t blockRejects = 1;  // y of the rejects chart: the most rejects in a block of 100
    double spanMs = 1000;    // x of the timeline: the longest module, first to last cycle
};

constexpr int kHistogramBins = 24;
constexpr size_t kRejectBlock = 100;

// Where a text lies (SVG user units), and a label placed at its baseline's start.
struct LabelBox {
    double left, top, right, bottom;
};
struct PlacedLabel {
    double x, y;
    std::string text;
};
constexpr double kTextAscent = 8;  // of the charts' 10 px text, above its baseline
constexpr int kRunLabelRows = 3;

// The width of a chart text, a little on the wide side.
double TextWidth(const std::string& text);
// Labels for run boundaries at x (each right of its line), each in the first of kRunLabelRows
// rows where it overlaps neither `taken` nor another label; a label that fits nowhere is left out.
std::vector<PlacedLabel> PlaceRunLabels(const std::vector<std::pair<double, std::string>>& at, std::vector<LabelBox> taken);

ChartScales SharedScales(const std::vector<ModuleResults>& modules, const Limits& limits);

// Answer time per cycle (resent cycles and failures marked, run boundaries and the limit drawn).
std::string AnswerTimeChart(const ModuleResults& module, const ChartScales& scales);
// How many answers took how long.
std::string HistogramChart(const ModuleResults& module, const ChartScales& scales);
// Rejected notes in each block of 100 cycles.
std::string RejectsChart(const ModuleResults& module, const ChartScales& scales);
// Module errors and link failures over the time since the module's first cycle, a lane per kind.
std::string TimelineChart(const ModuleResults& module, const ChartScales& scales);

}  // namespace kalvor::report
