// The charts' fine print: run-boundary labels never overlap each other or the limit's label,
// every text stays inside the frame, and a module error's answer has its own marker.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "report/svg_charts.h"

namespace kalvor::report {
namespace {

struct Text {
    LabelBox box;
    std::string text;
};

// Every <text> of a chart with the box it covers (by the charts' own width estimate).
std::vector<Text> Texts(const std::string& svg) {
    static const std::regex text(R"re(<text x="([-0-9.]+)" y="([-0-9.]+)" text-anchor="(\w+)" class="\w+">([^<]*)</text>)re");
    std::vector<Text> out;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
        const double x = std::stod((*it)[1]), y = std::stod((*it)[2]), w = TextWidth((*it)[4]);
        const double left = (*it)[3] == "start" ? x : (*it)[3] == "end" ? x - w : x - w / 2;
        out.push_back({{left, y - kTextAscent, left + w, y + 2}, (*it)[4]});
    }
    return out;
}

// Runs of one to three cycles (boundaries a few pixels apart), some answers near the limit,
// a module error and a failure.
ModuleResults ShortRuns(size_t runs) {
    ModuleResults m;
    for (uint32_t r = 1; r <= runs; ++r)
        for (uint32_t c = 1; c <= 1 + r % 3; ++c) {
            CycleRecord rec;
            rec.run = r;
            rec.cycle = c;
            rec.wallMs = 1000 * static_cast<int64_t>(m.cycles.size());
            rec.answerMs = 800 + 100.0 * (m.cycles.size() % 7);
            if (m.cycles.size() == 5) rec.ended = CycleEnd::ModuleError;
            if (m.cycles.size() == 9) rec.ended = CycleEnd::NoAnswer, rec.answerMs = -1;
            m.cycles.push_back(rec);
        }
    return m;
}

TEST(ReportLabels, RunLabelsNeverOverlapAndTextsStayInTheFrame) {
    for (size_t runs : {2, 5, 12, 30}) {
        SCOPED_TRACE(runs);
        const ModuleResults m = ShortRuns(runs);
        Limits limits;
        limits.maxAnswerMs = 1500;  // the limit's label near the top, where run labels go
        const ChartScales scales = SharedScales({m}, limits);
        std::vector<Text> runLabels;
        for (const std::string& svg : {AnswerTimeChart(m, scales), HistogramChart(m, scales), RejectsChart(m, scales),
                                       TimelineChart(m, scales)}) {
            const std::vector<Text> texts = Texts(svg);
            ASSERT_FALSE(texts.empty());
            for (const Text& t : texts) {
                EXPECT_GE(t.box.left, 0) << t.text;
                EXPECT_LE(t.box.right, 520) << t.text;
                EXPECT_GE(t.box.top, 0) << t.text;
            }
            // Labels in the plot (runs, the limit) and the axis titles overlap nothing else.
            for (size_t i = 0; i < texts.size(); ++i)
                for (size_t j = i + 1; j < texts.size(); ++j) {
                    const LabelBox& a = texts[i].box;
                    const LabelBox& b = texts[j].box;
                    EXPECT_FALSE(a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom)
                        << "'" << texts[i].text << "' and '" << texts[j].text << "'";
                }
            for (const Text& t : texts)
                if (t.text.rfind("run ", 0) == 0) runLabels.push_back(t);
        }
        // The first boundaries always find room; the rest only where they fit.
        ASSERT_FALSE(runLabels.empty());
        EXPECT_EQ(runLabels.front().text, "run 2");
        EXPECT_LE(runLabels.size(), runs - 1);
    }
}

TEST(ReportLabels, ModuleErrorHasItsOwnMarker) {
    const ModuleResults m = ShortRuns(5);
    const ChartScales scales = SharedScales({m}, Limits{});
    const std::string svg = AnswerTimeChart(m, scales);
    const size_t at = svg.find("class=\"moderr\" d=\"M");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(svg.find("z", at), svg.rfind("z")) << "one diamond for one module error";
    ModuleResults clean = m;
    clean.cycles[5].ended = CycleEnd::Answered;
    EXPECT_EQ(AnswerTimeChart(clean, scales).find("moderr"), std::string::npos);
}

}  // namespace
}  // namespace kalvor::report
