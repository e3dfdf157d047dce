// fuzz_report: the input is one or more results files read by the report's CSV or JSON Lines
// reader (byte 0: bit 0 JSON Lines; the files are separated by the byte 0xFE), and whatever is
// read is judged and written as the HTML page. Checks: a reading either fails with "NAME:LINE: "
// or gives records within their ranges; the page is valid UTF-8 with no control bytes but
// newlines, opens no script, and every '<' of the page is one the writer put there (the count of
// tags does not grow with the input's texts).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "report/html_report.h"
#include "report/report_stats.h"
#include "report/results_file.h"

namespace {

void Check(bool ok, const char* what, int line) {
    if (ok) return;
    std::fprintf(stderr, "*** invariant broken at fuzz_report.cpp:%d: %s\n", line, what);
    std::abort();
}
#define CHECK(x) Check((x), #x, __LINE__)

bool ValidUtf8NoControls(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
            ++i;
            continue;
        }
        const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (len == 0 || c > 0xF4 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalvor::report;
    if (size == 0) return 0;
    const bool jsonLines = data[0] & 1;
    const std::string all(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<ModuleResults> modules;
    size_t start = 0;
    for (int k = 0; k < 4 && start <= all.size(); ++k) {
        size_t end = all.find('\xFE', start);
        if (end == std::string::npos) end = all.size();
        std::istringstream in(all.substr(start, end - start));
        ModuleResults m;
        const std::string name = "m" + std::to_string(k) + ".csv";
        const std::string error = ReadResults(in, name, jsonLines, m);
        if (!error.empty()) {
            CHECK(error.rfind(name + ":", 0) == 0);
            CHECK(error.size() < 400);
            CHECK(m.name == name);
        } else {
            for (const CycleRecord& r : m.cycles) {
                CHECK(r.run >= 1 && r.cycle >= 1);
                CHECK(r.command == 'E' || r.command == 'U' || r.command == 'V');
                CHECK(r.dispensed >= -1 && r.dispensed <= 99999 && r.rejected >= -1 && r.rejected <= 99999);
                CHECK(r.resultCode >= -1 && r.resultCode <= 255);
                CHECK(r.answerMs == -1 || (r.answerMs >= 0 && r.answerMs < 1e9));
            }
            for (const auto& [code, text] : m.errorTexts) CHECK(text.size() <= kMaxTextBytes + 3);
            modules.push_back(std::move(m));
        }
        start = end + 1;
    }
    if (modules.empty()) return 0;

    Limits limits;
    std::vector<ModuleFigures> figures;
    for (const ModuleResults& m : modules) {
        figures.push_back(ComputeModule(m, limits));
        const Figures& f = figures.back().total;
        CHECK(f.cycles == m.cycles.size());
        CHECK(f.timed == 0 || (f.minMs <= f.medianMs && f.medianMs <= f.maxMs && f.minMs <= f.p95Ms && f.p95Ms <= f.maxMs));
        CHECK(f.rejectRatePct == -1 || (f.rejectRatePct >= 0 && f.rejectRatePct <= 100));
        size_t runCycles = 0;
        for (const RunFigures& r : figures.back().runs) runCycles += r.figures.cycles;
        CHECK(runCycles == m.cycles.size());
    }
    const std::string html = HtmlReport(modules, figures, limits, 0);
    CHECK(ValidUtf8NoControls(html));
    CHECK(Count(html, "<script") == 0 && Count(html, "<img") == 0 && Count(html, "<iframe") == 0);
    // The texts from the input (module error texts, shown once per run and once per module) add no
    // tag: the page's '<' count is that of the same page with those texts blanked.
    std::vector<ModuleResults> blank = modules;
    for (ModuleResults& m : blank)
        for (auto& entry : m.errorTexts) entry.second = "x";
    CHECK(Count(html, "<") == Count(HtmlReport(blank, figures, limits, 0), "<"));
    return 0;
}
