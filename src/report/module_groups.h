// The report's modules: results files and folders given on the command line, read as files, and
// the files of one module (its `module` column; a file without one is a module of its own, named
// after the file) put together as one, whatever station or bench wrote them.
#pragma once

#include <string>
#include <vector>

#include "report/results_file.h"

namespace kalvor::report {

// The results files the inputs stand for: a file as it is, a folder as every *.csv and *.jsonl in
// it (not below it), by name. Empty string, or what is wrong ("DIR: no results files ...").
std::string ExpandInputs(const std::vector<std::string>& inputs, std::vector<std::string>& files);

// One module per name, in the order the names first come. A module's files follow each other by
// their first cycle's time; their runs are numbered on from the file before.
std::vector<ModuleResults> GroupByModule(std::vector<ModuleResults> files);

}  // namespace kalvor::report
