#include "report/svg_charts.h"

#include <algorithm>
#include <cmath>

#include "report/html_text.h"

namespace kalvor::report {

namespace {

constexpr double kW = 520, kH = 210;
constexpr double kLeft = 56, kRight = 12, kTop = 22, kBottom = 34;
constexpr double kPlotW = kW - kLeft - kRight, kPlotH = kH - kTop - kBottom;

// A round step for about `count` ticks up to `max`: 1, 2 or 5 times a power of ten.
double NiceStep(double max, int count) {
    if (max <= 0) return 1;
    const double raw = max / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

double NiceMax(double max, int count) {
    const double step = NiceStep(max, count);
    return std::max(step, std::ceil(max / step - 1e-9) * step);
}

// The y of the first row of run labels and the height of a row.
constexpr double kLabelTop = kTop + 26, kLabelRow = 12;

std::string Label(double v) {
    if (v >= 1000000) return Fixed(v / 1000000, std::fmod(v, 1000000) ? 1 : 0) + "M";
    if (v >= 10000) return Fixed(v / 1000, std::fmod(v, 1000) ? 1 : 0) + "k";
    return Fixed(v, v == std::floor(v) ? 0 : 1);
}

class Svg {
public:
    explicit Svg(const char* title) {
        out = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 520 210\" role=\"img\" aria-label=\"";
        out += title;
        out += "\"><rect x=\"0\" y=\"0\" width=\"520\" height=\"210\" fill=\"#fff\"/>";
    }
    static std::string N(double v) { return Fixed(v, 1); }
    void Line(double x1, double y1, double x2, double y2, const char* style) {
        out += "<line x1=\"" + N(x1) + "\" y1=\"" + N(y1) + "\" x2=\"" + N(x2) + "\" y2=\"" + N(y2) + "\" " + style + "/>";
    }
    void Rect(double x, double y, double w, double h, const char* style) {
        out += "<rect x=\"" + N(x) + "\" y=\"" + N(y) + "\" width=\"" + N(std::max(w, 0.0)) + "\" height=\"" +
               N(std::max(h, 0.0)) + "\" " + style + "/>";
    }
    void Text(double x, double y, const std::string& text, const char* anchor, const char* cls = "t") {
        out += "<text x=\"" + N(x) + "\" y=\"" + N(y) + "\" text-anchor=\"" + anchor + "\" class=\"" + cls + "\">" +
               Escape(text) + "</text>";
    }
    // A y axis 0..max with gridlines, and its unit at the top.
    void YAxis(double max, const std::string& unit) {
        const double step = NiceStep(max, 4);
        for (double v = 0; v <= max + step * 1e-6; v += step) {
            const double y = kTop + kPlotH - v / max * kPlotH;
            Line(kLeft, y, kLeft + kPlotW, y, "class=\"grid\"");
            Text(kLeft - 4, y + 3.5, Label(v), "end");
        }
        // Above the top tick label, never beside it.
        Text(4, kTop - 10, unit, "start", "u");
    }
    // An x axis 0..max with ticks labelled by `label`.
    template <typename Fn>
    void XAxis(double max, const std::string& unit, Fn label) {
        const double step = NiceStep(max, 6);
        const double bottom = kTop + kPlotH;
        Line(kLeft, bottom, kLeft + kPlotW, bottom, "class=\"axis\"");
        for (double v = 0; v <= max + step * 1e-6; v += step) {
            const double x = kLeft + v / max * kPlotW;
            Line(x, bottom, x, bottom + 4, "class=\"axis\"");
            TickLabel(x, bottom + 15, label(v));
        }
        Text(kLeft + kPlotW, bottom + 29, unit, "end", "u");
    }
    // A tick label centred on x, moved in so that it stays inside the frame.
    void TickLabel(double x, double y, const std::string& text) {
        const double half = TextWidth(text) / 2;
        Text(std::clamp(x, half + 2, kW - half - 2), y, text, "middle");
    }
    void Empty(const char* what) { Text(kLeft + kPlotW / 2, kTop + kPlotH / 2, what, "middle", "u"); }
    std::string Done() { return out + "</svg>"; }

    std::string out;
};

// A round step of time for about six ticks: 1, 2, 5, 10, 15, 30 s or min, 1, 2, 3, 6, 12 h, days.
double TimeStep(double spanMs) {
    static const double steps[] = {1e3, 2e3, 5e3, 10e3, 15e3, 30e3, 60e3, 120e3, 300e3, 600e3, 900e3, 1800e3,
                                   3600e3, 7200e3, 10800e3, 21600e3, 43200e3, 86400e3};
    for (double step : steps)
        if (spanMs / step <= 7) return step;
    return NiceStep(spanMs / 86400e3, 6) * 86400e3;
}

double X(double v, double max) { return kLeft + std::clamp(v / max, 0.0, 1.0) * kPlotW; }
double Y(double v, double max) { return kTop + kPlotH - std::clamp(v / max, 0.0, 1.0) * kPlotH; }

bool Failed(const CycleRecord& r) { return r.ended != CycleEnd::Answered && r.ended != CycleEnd::ModuleError; }

bool Overlap(const LabelBox& a, const LabelBox& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

double TextWidth(const std::string& text) {
    // 10 px sans-serif: digits and most lower-case letters are at most 0.64 em wide.
    return 6.4 * static_cast<double>(text.size());
}

std::vector<PlacedLabel> PlaceRunLabels(const std::vector<std::pair<double, std::string>>& at, std::vector<LabelBox> taken) {
    std::vector<PlacedLabel> placed;
    for (const auto& [x, text] : at) {
        const double left = x + 2, right = left + TextWidth(text);
        if (right > kLeft + kPlotW) continue;  // past the frame's right edge
        for (int row = 0; row < kRunLabelRows; ++row) {
            const double y = kLabelTop + row * kLabelRow;
            const LabelBox box{left - 1, y - kTextAscent, right + 1, y + 2};
            if (std::any_of(taken.begin(), taken.end(), [&](const LabelBox& t) { return Overlap(t, box); })) continue;
            taken.push_back(box);
            placed.push_back({left, y, text});
            break;
        }
    }
    return placed;
}

ChartScales SharedScales(const std::vector<ModuleResults>& modules, const Limits& limits) {
    ChartScales s;
    double maxMs = 0;
    for (const ModuleResults& m : modules) {
        s.cycles = std::max(s.cycles, m.cycles.size());
        for (const CycleRecord& r : m.cycles) maxMs = std::max(maxMs, r.answerMs);
        if (!m.cycles.empty()) {
            int64_t first = m.cycles.front().wallMs, last = first;
            for (const CycleRecord& r : m.cycles) {
                first = std::min(first, r.wallMs);
                last = std::max(last, r.wallMs);
            }
            s.spanMs = std::max(s.spanMs, static_cast<double>(last - first));
        }
    }
    // The limit is shown when it is not far above the slowest answer.
    s.limitMs = limits.maxAnswerMs;
    if (s.limitMs <= maxMs * 1.25) maxMs = std::max(maxMs, s.limitMs);
    s.answerMs = NiceMax(std::max(maxMs * 1.02, 1.0), 4);
    for (const ModuleResults& m : modules) {
        std::vector<uint32_t> bins(kHistogramBins, 0);
        std::vector<uint64_t> blocks(m.cycles.size() / kRejectBlock + 1, 0);
        for (size_t i = 0; i < m.cycles.size(); ++i) {
            const CycleRecord& r = m.cycles[i];
            if (r.answerMs >= 0) {
                const int b = std::min(kHistogramBins - 1, static_cast<int>(r.answerMs / s.answerMs * kHistogramBins));
                s.binCount = std::max(s.binCount, ++bins[static_cast<size_t>(b)]);
            }
            if (r.rejected > 0) blocks[i / kRejectBlock] += static_cast<uint64_t>(r.rejected);
        }
        for (uint64_t b : blocks) s.blockRejects = std::max(s.blockRejects, b);
    }
    return s;
}

std::string AnswerTimeChart(const ModuleResults& m, const ChartScales& s) {
    Svg svg("answer time per cycle");
    const double xMax = NiceMax(static_cast<double>(s.cycles), 6);
    svg.YAxis(s.answerMs, "ms");
    svg.XAxis(xMax, "cycle", [](double v) { return Label(v); });
    if (m.cycles.empty()) {
        svg.Empty("no cycles");
        return svg.Done();
    }
    // Where each run starts.
    size_t runs = 0;
    for (size_t i = 1; i < m.cycles.size(); ++i) runs += m.cycles[i].run != m.cycles[i - 1].run;
    std::vector<LabelBox> taken;
    if (s.limitMs <= s.answerMs) {
        const double y = Y(s.limitMs, s.answerMs);
        const std::string text = "limit " + Label(s.limitMs) + " ms";
        svg.Line(kLeft, y, kLeft + kPlotW, y, "class=\"limit\"");
        svg.Text(kLeft + kPlotW - 2, y - 3, text, "end", "lt");
        taken.push_back({kLeft + kPlotW - 2 - TextWidth(text), y - 3 - kTextAscent, kLeft + kPlotW - 2, y - 1});
    }
    // Run boundaries only while they stay apart; hundreds of short runs would hide the answers.
    // Each label goes where it overlaps nothing; one that fits nowhere is left out.
    std::vector<std::pair<double, std::string>> boundaries;
    for (size_t i = 1; i < m.cycles.size() && runs <= 40; ++i) {
        if (m.cycles[i].run == m.cycles[i - 1].run) continue;
        const double x = X(static_cast<double>(i) + 0.5, xMax);
        svg.Line(x, kTop, x, kTop + kPlotH, "class=\"run\"");
        boundaries.emplace_back(x, "run " + std::to_string(m.cycles[i].run));
    }
    for (const PlacedLabel& l : PlaceRunLabels(boundaries, taken)) svg.Text(l.x, l.y, l.text, "start", "rl");
    // Few cycles: a dot each. Many: per pixel column the range of the answers in it, so that the
    // drawing stays small however long the burn-in was.
    const bool dots = m.cycles.size() <= 1500;
    std::string answers, resent, failed, moduleErrors;
    // A module error's answer is a diamond, not a dot.
    const auto diamond = [&](double x, double y) {
        moduleErrors += "M" + Svg::N(x) + " " + Svg::N(y - 4.5) + "l4.5 4.5l-4.5 4.5l-4.5 -4.5z";
    };
    int lastColumn = -1;
    double colMin = 0, colMax = -1, colError = -1;
    bool colResent = false, colFailed = false;
    auto flush = [&](int column) {
        if (column < 0) return;
        const double x = kLeft + column + 0.5;
        if (colMax >= 0)
            answers += "M" + Svg::N(x) + " " + Svg::N(Y(colMax, s.answerMs) - 0.8) + "V" + Svg::N(Y(colMin, s.answerMs) + 0.8);
        if (colResent) resent += "M" + Svg::N(x) + " " + Svg::N(Y(colMax, s.answerMs) - 7) + "l-3 5h6z";
        if (colFailed) failed += "M" + Svg::N(x - 3) + " " + Svg::N(kTop + 1) + "l6 6m0 -6l-6 6";
        if (colError >= 0) diamond(x, Y(colError, s.answerMs));
    };
    for (size_t i = 0; i < m.cycles.size(); ++i) {
        const CycleRecord& r = m.cycles[i];
        const double x = X(static_cast<double>(i + 1), xMax);
        if (dots) {
            if (r.answerMs >= 0) {
                const double y = Y(r.answerMs, s.answerMs);
                if (r.ended == CycleEnd::ModuleError) diamond(x, y);
                else answers += "M" + Svg::N(x - 1.6) + " " + Svg::N(y) + "h3.2";
                if (r.resends > 0) resent += "M" + Svg::N(x) + " " + Svg::N(y - 9) + "l-3.5 6h7z";
            } else if (r.resends > 0) {
                resent += "M" + Svg::N(x) + " " + Svg::N(kTop + 9) + "l-3.5 6h7z";
            }
            if (Failed(r)) failed += "M" + Svg::N(x - 3) + " " + Svg::N(kTop + 1) + "l6 6m0 -6l-6 6";
            continue;
        }
        const int column = static_cast<int>(x - kLeft);
        if (column != lastColumn) {
            flush(lastColumn);
            lastColumn = column;
            colMax = colError = -1;
            colResent = colFailed = false;
        }
        if (r.ended == CycleEnd::ModuleError && r.answerMs >= 0) colError = std::max(colError, r.answerMs);
        if (r.answerMs >= 0) {
            colMin = colMax < 0 ? r.answerMs : std::min(colMin, r.answerMs);
            colMax = std::max(colMax, r.answerMs);
        }
        colResent |= r.resends > 0;
        colFailed |= Failed(r);
    }
    flush(lastColumn);
    if (!answers.empty()) svg.out += "<path class=\"dots\" d=\"" + answers + "\"/>";
    if (!resent.empty()) svg.out += "<path class=\"resent\" d=\"" + resent + "\"/>";
    if (!failed.empty()) svg.out += "<path class=\"failed\" d=\"" + failed + "\"/>";
    if (!moduleErrors.empty()) svg.out += "<path class=\"moderr\" d=\"" + moduleErrors + "\"/>";
    return svg.Done();
}

std::string HistogramChart(const ModuleResults& m, const ChartScales& s) {
    Svg svg("histogram of answer times");
    const double yMax = NiceMax(s.binCount, 4);
    svg.YAxis(yMax, "cycles");
    svg.XAxis(s.answerMs, "answer ms", [](double v) { return Label(v); });
    std::vector<uint32_t> bins(kHistogramBins, 0);
    uint32_t timed = 0;
    for (const CycleRecord& r : m.cycles) {
        if (r.answerMs < 0) continue;
        ++timed;
        ++bins[static_cast<size_t>(std::min(kHistogramBins - 1, static_cast<int>(r.answerMs / s.answerMs * kHistogramBins)))];
    }
    if (timed == 0) {
        svg.Empty("no answer times");
        return svg.Done();
    }
    const double w = kPlotW / kHistogramBins;
    for (int b = 0; b < kHistogramBins; ++b) {
        if (bins[static_cast<size_t>(b)] == 0) continue;
        const double y = Y(bins[static_cast<size_t>(b)], yMax);
        svg.Rect(kLeft + b * w + 1, y, w - 2, kTop + kPlotH - y, "class=\"bar\"");
    }
    if (s.limitMs <= s.answerMs) {
        const double x = X(s.limitMs, s.answerMs);
        svg.Line(x, kTop, x, kTop + kPlotH, "class=\"limit\"");
    }
    return svg.Done();
}

std::string RejectsChart(const ModuleResults& m, const ChartScales& s) {
    Svg svg("rejects per 100 cycles");
    const double yMax = NiceMax(static_cast<double>(s.blockRejects), 4);
    const double xMax = NiceMax(static_cast<double>(s.cycles), 6);
    svg.YAxis(yMax, "rejected notes");
    svg.XAxis(xMax, "cycle", [](double v) { return Label(v); });
    if (m.cycles.empty()) {
        svg.Empty("no cycles");
        return svg.Done();
    }
    const size_t blockCount = (m.cycles.size() + kRejectBlock - 1) / kRejectBlock;
    for (size_t b = 0; b < blockCount; ++b) {
        uint64_t rejected = 0;
        const size_t end = std::min(m.cycles.size(), (b + 1) * kRejectBlock);
        for (size_t i = b * kRejectBlock; i < end; ++i) rejected += m.cycles[i].rejected > 0 ? static_cast<uint64_t>(m.cycles[i].rejected) : 0;
        const double x0 = X(static_cast<double>(b * kRejectBlock), xMax);
        const double x1 = X(static_cast<double>(end), xMax);
        const double y = Y(static_cast<double>(rejected), yMax);
        if (rejected > 0) svg.Rect(x0 + 0.5, y, std::max(x1 - x0 - 1, 0.8), kTop + kPlotH - y, "class=\"bar rej\"");
        else svg.Rect(x0 + 0.5, kTop + kPlotH - 1.5, std::max(x1 - x0 - 1, 0.8), 1.5, "class=\"zero\"");
    }
    return svg.Done();
}

std::string TimelineChart(const ModuleResults& m, const ChartScales& s) {
    Svg svg("timeline of errors");
    struct Lane { const char* name; CycleEnd how; };
    static const Lane lanes[] = {
        {"module error", CycleEnd::ModuleError}, {"no ACK", CycleEnd::NoAck}, {"no answer", CycleEnd::NoAnswer},
        {"bad frames", CycleEnd::BadFrames}, {"port lost", CycleEnd::PortLost}, {"replaced", CycleEnd::Replaced},
        {"interrupted", CycleEnd::Interrupted}, {"port not open", CycleEnd::PortNotOpen}};
    constexpr int laneCount = sizeof lanes / sizeof lanes[0];
    const double laneH = kPlotH / laneCount;
    std::vector<uint32_t> counts(laneCount, 0);
    for (const CycleRecord& r : m.cycles)
        for (int l = 0; l < laneCount; ++l) counts[static_cast<size_t>(l)] += r.ended == lanes[l].how;
    const auto laneName = [&](int l) { return std::string(lanes[l].name) + " " + std::to_string(counts[static_cast<size_t>(l)]); };
    double left = 84;  // room for the longest lane name
    for (int l = 0; l < laneCount; ++l) left = std::max(left, TextWidth(laneName(l)) + 8);
    const double plotW = kW - left - kRight;
    const double step = TimeStep(s.spanMs);
    const double xMax = std::max(step, std::ceil(s.spanMs / step - 1e-9) * step);
    const double bottom = kTop + kPlotH;
    svg.Line(left, bottom, left + plotW, bottom, "class=\"axis\"");
    for (double v = 0; v <= xMax + step * 1e-6; v += step) {
        const double x = left + v / xMax * plotW;
        svg.Line(x, kTop, x, bottom + 4, "class=\"grid\"");
        svg.TickLabel(x, bottom + 15, v == 0 ? "0" : Span(v));
    }
    svg.Text(left + plotW, bottom + 29, "time since the first cycle", "end", "u");
    std::vector<std::string> marks(laneCount);
    int64_t first = 0;
    if (!m.cycles.empty()) {
        first = m.cycles.front().wallMs;
        for (const CycleRecord& r : m.cycles) first = std::min(first, r.wallMs);
    }
    int lastX[laneCount];
    std::fill(lastX, lastX + laneCount, -1);
    for (const CycleRecord& r : m.cycles) {
        for (int l = 0; l < laneCount; ++l) {
            if (r.ended != lanes[l].how) continue;
            const double x = left + std::clamp(static_cast<double>(r.wallMs - first) / xMax, 0.0, 1.0) * plotW;
            if (static_cast<int>(x) == lastX[l]) continue;  // one mark per pixel column is enough
            lastX[l] = static_cast<int>(x);
            const double y = kTop + l * laneH;
            marks[static_cast<size_t>(l)] += "M" + Svg::N(x) + " " + Svg::N(y + 3) + "v" + Svg::N(laneH - 6);
        }
    }
    for (int l = 0; l < laneCount; ++l) {
        const double y = kTop + l * laneH;
        svg.Text(left - 4, y + laneH / 2 + 3.5, laneName(l), "end", counts[static_cast<size_t>(l)] ? "t" : "u");
        svg.Line(left, y + laneH, left + plotW, y + laneH, "class=\"grid\"");
        if (!marks[static_cast<size_t>(l)].empty())
            svg.out += std::string("<path class=\"") + (l == 0 ? "err" : "fail") + "\" d=\"" + marks[static_cast<size_t>(l)] + "\"/>";
    }
    return svg.Done();
}

}  // namespace kalvor::report
