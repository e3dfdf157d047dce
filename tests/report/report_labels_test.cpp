// The charts' fine print: run-boundary labels never overlap each other, the limit's label or any
// other text, every text stays inside the frame, and a module error's answer has its own marker.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "report/svg_charts.h"

namespace kalvor::report {
namespace {

// Runs of one to three cycles (boundaries a few pixels apart), answers up to the limit, a module
// error (cycle 6) and a failure (cycle 10).
ModuleResults ShortRuns(uint32_t runs) {
    ModuleResults m;
    for (uint32_t r = 1; r <= runs; ++r)
        for (uint32_t c = 1; c <= 1 + r % 3; ++c) {
            CycleRecord rec;
            rec.run = r;
            rec.wallMs = 1000 * static_cast<int64_t>(m.cycles.size());
            rec.answerMs = 800 + 100.0 * (m.cycles.size() % 7);
            if (m.cycles.size() == 5) rec.ended = CycleEnd::ModuleError;
            if (m.cycles.size() == 9) rec.ended = CycleEnd::NoAnswer, rec.answerMs = -1;
            m.cycles.push_back(rec);
        }
    return m;
}

TEST(ReportLabels, RunLabelsNeverOverlapTextsStayInTheFrameModuleErrorsMarked) {
    static const std::regex text(R"re(<text x="([-0-9.]+)" y="([-0-9.]+)" text-anchor="(\w+)" class="\w+">([^<]*)</text>)re");
    for (uint32_t runs : {2, 5, 12, 30}) {
        SCOPED_TRACE(runs);
        const ModuleResults m = ShortRuns(runs);
        Limits limits;
        limits.maxAnswerMs = 1500;  // the limit's label near the top, where run labels go
        const ChartScales scales = SharedScales({m}, limits);
        std::vector<std::string> runLabels;
        for (const std::string& svg : {AnswerTimeChart(m, scales), HistogramChart(m, scales), RejectsChart(m, scales),
                                       TimelineChart(m, scales)}) {
            std::vector<std::pair<LabelBox, std::string>> boxes;  // by the charts' own width estimate
            for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
                const double x = std::stod((*it)[1]), y = std::stod((*it)[2]), w = TextWidth((*it)[4]);
                const double left = (*it)[3] == "start" ? x : (*it)[3] == "end" ? x - w : x - w / 2;
                boxes.push_back({{left, y - kTextAscent, left + w, y + 2}, (*it)[4]});
                if (boxes.back().second.rfind("run ", 0) == 0) runLabels.push_back(boxes.back().second);
            }
            ASSERT_FALSE(boxes.empty());
            for (size_t i = 0; i < boxes.size(); ++i) {
                const LabelBox& a = boxes[i].first;
                EXPECT_TRUE(a.left >= 0 && a.right <= 520 && a.top >= 0) << boxes[i].second;
                for (size_t j = i + 1; j < boxes.size(); ++j) {
                    const LabelBox& b = boxes[j].first;
                    EXPECT_FALSE(a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom)
                        << "'" << boxes[i].second << "' and '" << boxes[j].second << "'";
                }
            }
        }
        // The first boundary always finds room; the others where they fit.
        ASSERT_FALSE(runLabels.empty());
        EXPECT_EQ(runLabels.front(), "run 2");
        // One diamond for the one module error, none when it is answered.
        const std::string svg = AnswerTimeChart(m, scales);
        const size_t at = svg.find("class=\"moderr\" d=\"M");
        EXPECT_EQ(at == std::string::npos, runs < 4);
        if (at != std::string::npos) {
            EXPECT_EQ(svg.find('z', at), svg.rfind('z'));
        }
        ModuleResults clean = m;
        for (CycleRecord& r : clean.cycles) r.ended = CycleEnd::Answered;
        EXPECT_EQ(AnswerTimeChart(clean, scales).find("moderr"), std::string::npos);
    }
}

}  // namespace
}  // namespace kalvor::report
