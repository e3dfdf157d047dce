#include "report/html_report.h"

#include <algorithm>

#include "report/html_text.h"
#include "report/report_command.h"
#include "report/svg_charts.h"

namespace kalvor::report {

namespace {

const char* const kStyle = R"(
@page { size: A4; margin: 12mm; }
* { box-sizing: border-box; }
body { font: 10pt/1.35 "DejaVu Sans", Arial, Helvetica, sans-serif; color: #111; margin: 16px auto; max-width: 1100px; padding: 0 12px; }
h1 { font-size: 17pt; margin: 0 0 2px; }
h2 { font-size: 13pt; margin: 18px 0 6px; border-bottom: 1px solid #999; }
h3 { font-size: 11pt; margin: 12px 0 4px; }
p.meta { color: #444; margin: 0 0 8px; }
table { border-collapse: collapse; margin: 4px 0 8px; }
th, td { border: 1px solid #bbb; padding: 2px 6px; text-align: right; vertical-align: top; }
th { background: #eee; text-align: left; font-weight: 600; }
td.l { text-align: left; }
thead th { text-align: center; }
.pass { color: #176b1e; font-weight: 700; }
.fail { color: #b00000; font-weight: 700; }
.name { word-break: break-all; }
.grid { display: grid; gap: 10px; }
.g1 { grid-template-columns: 1fr; max-width: 760px; }
.g2 { grid-template-columns: 1fr 1fr; }
figure { margin: 0; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-size: 9pt; color: #333; }
section.chart { break-inside: avoid; page-break-inside: avoid; }
svg { width: 100%; height: auto; display: block; border: 1px solid #ddd; }
svg .t { font: 10px sans-serif; fill: #222; }
svg .u { font: 10px sans-serif; fill: #777; }
svg .lt { font: 10px sans-serif; fill: #b00000; }
svg .rl { font: 10px sans-serif; fill: #555; paint-order: stroke; stroke: #fff; stroke-width: 3px; stroke-linejoin: round; }
svg .grid { stroke: #e4e4e4; stroke-width: 1; }
svg .axis { stroke: #555; stroke-width: 1; }
svg .run { stroke: #999; stroke-width: 1; stroke-dasharray: 3 3; }
svg .limit { stroke: #d00; stroke-width: 1.2; stroke-dasharray: 6 3; }
svg .dots { stroke: #1f5fbf; stroke-width: 2.2; fill: none; }
svg .resent { fill: #e08a00; stroke: none; }
svg .failed { stroke: #d00; stroke-width: 1.8; fill: none; }
svg .moderr { fill: #7a2fb0; stroke: #fff; stroke-width: 0.8; }
svg .bar { fill: #5b8bd6; }
svg .rej { fill: #c46b1b; }
svg .zero { fill: #bbb; }
svg .err { stroke: #7a2fb0; stroke-width: 2; }
svg .fail { stroke: #d00; stroke-width: 2; }
.legend { font-size: 9pt; color: #333; margin: 2px 0 0; }
.k1 { color: #1f5fbf; } .k2 { color: #e08a00; } .k3 { color: #d00; } .k4 { color: #7a2fb0; }
.page { break-before: page; page-break-before: always; }
h1, h2, h3, figcaption { break-after: avoid; page-break-after: avoid; }
section.modules { break-inside: avoid; page-break-inside: avoid; }
thead { display: table-header-group; }
tr { break-inside: avoid; page-break-inside: avoid; }
@media print { body { margin: 0; max-width: none; padding: 0; } h2 { margin-top: 10px; } }
)";

std::string Cell(const std::string& text, const char* cls = nullptr) {
    return cls ? std::string("<td class=\"") + cls + "\">" + text + "</td>" : "<td>" + text + "</td>";
}

std::string Rate(const Figures& f) { return f.rejectRatePct < 0 ? "–" : Fixed(f.rejectRatePct, 2) + " %"; }
std::string Ms(const Figures& f, double v) { return f.timed ? Fixed(v, 1) : "–"; }

std::string Verdict(const Figures& f) {
    if (f.Pass()) return "<span class=\"pass\">within limits</span>";
    std::string s = "<span class=\"fail\">outside limits</span>";
    for (const std::string& why : f.outside) s += "<br/>" + Escape(why);
    return s;
}

std::string Endings(const Figures& f, bool failuresOnly) {
    std::string s;
    for (int k = 0; k < kEndingCount; ++k) {
        const auto how = static_cast<CycleEnd>(k);
        if (how == CycleEnd::Answered || how == CycleEnd::ModuleError) continue;
        if (failuresOnly && !IsLinkFailure(how)) continue;
        if (f.endings[static_cast<size_t>(k)] == 0) continue;
        s += (s.empty() ? "" : "<br/>") + Escape(CycleEndName(how)) + " " + std::to_string(f.endings[static_cast<size_t>(k)]);
    }
    return s.empty() ? "0" : s;
}

std::string ErrorCodes(const Figures& f, const ModuleResults& m) {
    std::string s;
    for (const auto& [code, count] : f.errorsByCode) {
        const auto text = m.errorTexts.find(code);
        // The code as the module's error boxes show it: two hex digits.
        s += (s.empty() ? "" : "<br/>") + (code >= 0 ? std::string("0x") + "0123456789ABCDEF"[code >> 4] + "0123456789ABCDEF"[code & 15]
                                                     : std::string("?")) +
             (text != m.errorTexts.end() && !text->second.empty() ? " " + Escape(text->second) : "") + ": " + std::to_string(count);
    }
    return s.empty() ? "0" : s;
}

// One row of the modules' table: a label and a cell per module.
template <typename Fn>
void Row(std::string& html, const char* label, const std::vector<ModuleFigures>& figures, Fn cell) {
    html += "<tr><th>" + std::string(label) + "</th>";
    for (size_t i = 0; i < figures.size(); ++i) html += cell(i, figures[i].total);
    html += "</tr>\n";
}

void ChartRow(std::string& html, const char* title, const char* legend, const std::vector<ModuleResults>& modules,
              const ChartScales& scales, std::string (*chart)(const ModuleResults&, const ChartScales&)) {
    html += "<section class=\"chart\"><h3>" + std::string(title) + "</h3>\n";
    html += std::string("<div class=\"grid ") + (modules.size() > 1 ? "g2" : "g1") + "\">\n";
    for (const ModuleResults& m : modules) {
        html += "<figure>";
        if (modules.size() > 1) html += "<figcaption class=\"name\">" + Escape(m.name) + "</figcaption>";
        html += chart(m, scales) + "</figure>\n";
    }
    html += "</div>";
    if (legend) html += "<p class=\"legend\">" + std::string(legend) + "</p>";
    html += "</section>\n";
}

}  // namespace

std::string HtmlReport(const std::vector<ModuleResults>& modules, const std::vector<ModuleFigures>& figures,
                       const Limits& limits, int64_t madeAt) {
    std::string html;
    html.reserve(64 * 1024);
    html += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"/>"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>";
    html += kReportMarker;
    html += "<title>KALVOR TP burn-in report</title><style>";
    html += kStyle;
    html += "</style></head><body>\n<h1>Burn-in report</h1>\n";
    size_t pass = 0;
    for (const ModuleFigures& f : figures) pass += f.total.Pass();
    size_t files = 0;
    for (const ModuleResults& m : modules) files += std::max<size_t>(m.files.size(), 1);
    html += "<p class=\"meta\">Made by kalvor-tp on " + UtcTime(madeAt) + " from " + std::to_string(files) +
            (files == 1 ? " results file" : " results files") + ". " + std::to_string(pass) + " of " +
            std::to_string(modules.size()) + (modules.size() == 1 ? " module" : " modules") + " within the limits.</p>\n";
    html += "<p class=\"meta\">Limits: reject rate at most " + Fixed(limits.maxRejectRatePct, 2) +
            " % (rejected / (dispensed + rejected)); every answer within " + Fixed(limits.maxAnswerMs, 1) +
            " ms (write to answer); at most " + Counted(limits.maxErrors, "module error", "module errors") + " and " +
            Counted(limits.maxLinkFailures, "link failure", "link failures") + " (no ACK, no answer, bad frames, port lost); at least " +
            std::to_string(limits.minCycles) + (limits.minCycles == 1 ? " cycle" : " cycles") +
            ". Median: the middle answer time (mean of the two middle ones for an even count); p95: nearest rank.</p>\n";

    html += "<section class=\"modules\"><h2>Modules</h2>\n<table><thead><tr><th></th>";
    for (size_t i = 0; i < modules.size(); ++i) html += "<th class=\"name\">" + Escape(modules[i].name) + "</th>";
    html += "</tr></thead><tbody>\n";
    Row(html, "Verdict", figures, [&](size_t, const Figures& f) { return Cell(Verdict(f), "l"); });
    // Who is who: the module's files, and every port, device, adapter, model and station its
    // records name.
    auto list = [](const std::vector<std::string>& values) {
        std::string s;
        for (const std::string& v : values) s += (s.empty() ? "" : "<br/>") + Escape(v);
        return s.empty() ? std::string("–") : s;
    };
    Row(html, "Files", figures, [&](size_t i, const Figures&) { return Cell(list(modules[i].files), "l name"); });
    static const char* const kIdentityLabels[kIdentityCount] = {"Port", "Device", "Adapter", "Model", "Station"};
    for (int k = 0; k < kIdentityCount; ++k)
        Row(html, kIdentityLabels[k], figures,
            [&](size_t i, const Figures&) { return Cell(list(modules[i].identity[static_cast<size_t>(k)]), "l name"); });
    Row(html, "Planned cycles", figures, [&](size_t, const Figures& f) { return Cell(f.planned ? std::to_string(f.planned) : "–"); });
    Row(html, "Runs", figures, [&](size_t i, const Figures&) { return Cell(std::to_string(figures[i].runs.size())); });
    Row(html, "Cycles", figures, [&](size_t, const Figures& f) { return Cell(std::to_string(f.cycles)); });
    Row(html, "Notes dispensed", figures, [&](size_t, const Figures& f) { return Cell(std::to_string(f.dispensed)); });
    Row(html, "Notes rejected", figures, [&](size_t, const Figures& f) { return Cell(std::to_string(f.rejected)); });
    Row(html, "Reject rate", figures, [&](size_t, const Figures& f) { return Cell(Rate(f)); });
    Row(html, "Module errors", figures, [&](size_t i, const Figures& f) { return Cell(ErrorCodes(f, modules[i]), "l"); });
    Row(html, "Link failures", figures, [&](size_t, const Figures& f) { return Cell(Endings(f, true), "l"); });
    Row(html, "Other endings", figures, [&](size_t, const Figures& f) {
        std::string s;
        for (CycleEnd how : {CycleEnd::Replaced, CycleEnd::Interrupted, CycleEnd::PortNotOpen})
            if (uint32_t n = f.endings[static_cast<size_t>(how)]) s += (s.empty() ? "" : "<br/>") + std::string(CycleEndName(how)) + " " + std::to_string(n);
        return Cell(s.empty() ? "0" : s, "l");
    });
    Row(html, "Resends, NAKs", figures, [&](size_t, const Figures& f) { return Cell(std::to_string(f.resends) + ", " + std::to_string(f.naks)); });
    Row(html, "Answer ms min", figures, [&](size_t, const Figures& f) { return Cell(Ms(f, f.minMs)); });
    Row(html, "Answer ms median", figures, [&](size_t, const Figures& f) { return Cell(Ms(f, f.medianMs)); });
    Row(html, "Answer ms p95", figures, [&](size_t, const Figures& f) { return Cell(Ms(f, f.p95Ms)); });
    Row(html, "Answer ms max", figures, [&](size_t, const Figures& f) { return Cell(Ms(f, f.maxMs)); });
    Row(html, "First cycle", figures, [&](size_t, const Figures& f) { return Cell(f.cycles ? UtcTime(f.firstWallMs) : "–"); });
    Row(html, "Last cycle", figures, [&](size_t, const Figures& f) { return Cell(f.cycles ? UtcTime(f.lastWallMs) : "–"); });
    html += "</tbody></table></section>\n";

    const ChartScales scales = SharedScales(modules, limits);
    html += "<h2>Charts</h2>\n";
    if (modules.size() > 1) html += "<p class=\"meta\">Every chart has the same scales for all modules.</p>\n";
    ChartRow(html, "Answer time per cycle", "<span class=\"k1\">&#9644;</span> answer (write to answer) &#160; "
             "<span class=\"k2\">&#9650;</span> resent &#160; <span class=\"k4\">&#9670;</span> module error &#160; "
             "<span class=\"k3\">&#10005;</span> failed (no good answer) &#160; "
             "dashed: a new run, the limit", modules, scales, AnswerTimeChart);
    ChartRow(html, "Histogram of answer times", nullptr, modules, scales, HistogramChart);
    ChartRow(html, "Rejected notes per 100 cycles", "A bar per block of 100 cycles (the last block may be shorter).",
             modules, scales, RejectsChart);
    ChartRow(html, "Timeline of errors", "A mark for each module error and each cycle that ended without a good answer.",
             modules, scales, TimelineChart);

    for (size_t i = 0; i < modules.size(); ++i) {
        const ModuleResults& m = modules[i];
        html += "<section><h2 class=\"name\">Runs of " + Escape(m.name) + "</h2>\n";
        html += "<table><thead><tr><th>Run</th><th>Cycles</th><th>Dispensed</th><th>Rejected</th><th>Reject rate</th>"
                "<th>Module errors</th><th>Link failures</th><th>Answer ms min / median / p95 / max</th>"
                "<th>First cycle</th><th>Last cycle</th><th>Verdict</th></tr></thead><tbody>\n";
        // A burn-in of thousands of short runs would make pages of rows: the first 500 are shown.
        const size_t shown = std::min<size_t>(figures[i].runs.size(), 500);
        for (size_t r = 0; r < shown; ++r) {
            const RunFigures& run = figures[i].runs[r];
            const Figures& f = run.figures;
            html += "<tr>" + Cell(std::to_string(run.run)) + Cell(std::to_string(f.cycles)) + Cell(std::to_string(f.dispensed)) +
                    Cell(std::to_string(f.rejected)) + Cell(Rate(f)) + Cell(ErrorCodes(f, m), "l") + Cell(Endings(f, true), "l") +
                    Cell(f.timed ? Fixed(f.minMs, 1) + " / " + Fixed(f.medianMs, 1) + " / " + Fixed(f.p95Ms, 1) + " / " + Fixed(f.maxMs, 1) : "–") +
                    Cell(UtcTime(f.firstWallMs)) + Cell(UtcTime(f.lastWallMs)) + Cell(Verdict(f), "l") + "</tr>\n";
        }
        html += "</tbody></table>\n";
        if (shown < figures[i].runs.size())
            html += "<p class=\"meta\">" + Counted(figures[i].runs.size() - shown, "more run", "more runs") + " not listed.</p>\n";
        html += "</section>\n";
    }
    html += "</body></html>\n";
    return html;
}

}  // namespace kalvor::report
