// The burn-in report: one self-contained HTML page (inline CSS and SVG, no script, nothing
// fetched) that prints on A4.
#pragma once

#include <string>
#include <vector>

#include "report/report_stats.h"
#include "report/results_file.h"

namespace kalvor::report {

// `madeAt`: the wall clock when the report was made (milliseconds since 1970), shown in its head.
std::string HtmlReport(const std::vector<ModuleResults>& modules, const std::vector<ModuleFigures>& figures,
                       const Limits& limits, int64_t madeAt);

}  // namespace kalvor::report
