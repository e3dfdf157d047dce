#include "report/module_groups.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace kalvor::report {

namespace fs = std::filesystem;

std::string ExpandInputs(const std::vector<std::string>& inputs, std::vector<std::string>& files) {
    files.clear();
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string ext = it->path().extension().string();
            if ((ext == ".csv" || ext == ".jsonl") && it->is_regular_file(ec)) found.push_back(it->path().string());
        }
        if (ec) return input + ": cannot read the folder (" + ec.message() + ")";
        if (found.empty()) return input + ": no results files (*.csv, *.jsonl) in this folder";
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return {};
}

std::vector<ModuleResults> GroupByModule(std::vector<ModuleResults> files) {
    std::vector<std::vector<ModuleResults*>> groups;
    std::vector<std::string> names;
    for (ModuleResults& f : files) {
        const auto at = std::find(names.begin(), names.end(), f.name);
        if (at == names.end()) {
            names.push_back(f.name);
            groups.push_back({&f});
        } else {
            groups[static_cast<size_t>(at - names.begin())].push_back(&f);
        }
    }
    std::vector<ModuleResults> modules;
    modules.reserve(groups.size());
    for (std::vector<ModuleResults*>& group : groups) {
        auto first = [](const ModuleResults* m) { return m->cycles.empty() ? INT64_MAX : m->cycles.front().wallMs; };
        std::stable_sort(group.begin(), group.end(),
                         [&](const ModuleResults* a, const ModuleResults* b) { return first(a) < first(b); });
        ModuleResults merged = std::move(*group.front());
        for (size_t g = 1; g < group.size(); ++g) {
            ModuleResults& part = *group[g];
            const uint32_t offset = merged.cycles.empty() ? 0 : merged.cycles.back().run;
            for (CycleRecord& r : part.cycles) {
                r.run = r.run > UINT32_MAX - offset ? UINT32_MAX : r.run + offset;
                merged.cycles.push_back(r);
            }
            merged.files.insert(merged.files.end(), part.files.begin(), part.files.end());
            for (const auto& [code, text] : part.errorTexts) merged.errorTexts.emplace(code, text);
            for (size_t k = 0; k < merged.identity.size(); ++k)
                for (const std::string& v : part.identity[k])
                    if (std::find(merged.identity[k].begin(), merged.identity[k].end(), v) == merged.identity[k].end())
                        merged.identity[k].push_back(v);
        }
        modules.push_back(std::move(merged));
    }
    return modules;
}

}  // namespace kalvor::report
