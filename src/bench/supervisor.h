// The bench's supervisor: one headless session per module of the bench file, each a child
// process of its own (src/bench/child_process.h), started when its port is there; their run
// events drawn as the live table; signals passed on to every session; at the end the closing
// lines, bench.log, report.html over the modules' files, and the exit status over all modules.
#pragma once

#include <string>
#include <vector>

#include "bench/bench_options.h"

namespace kalvor::bench {

// The exit status of the bench from its modules' statuses (each as a single session's): 128+N
// when the bench itself was ended by signal N, then 6, then 3/4/5 combined over the modules (a
// module error on one and a link give-up on another is 5), then 1, then 0.
int CombineExitStatus(const std::vector<int>& moduleStatuses, int benchSignal);

// The whole command: kalvor-tp --bench ...
int BenchMain(int argc, char** argv);

}  // namespace kalvor::bench
