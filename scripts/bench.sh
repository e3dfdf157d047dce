#!/usr/bin/env bash
# Builds the benchmarks (Release, with the window) in build-bench, then runs them one after the
# other. The figures, and how they were taken, are in docs/PERFORMANCE.md. The machine should be otherwise idle while they run.
#
#   scripts/bench.sh               every benchmark (about three minutes)
#   scripts/bench.sh soak [ARGS]   the soak instead: 2,000 dispense cycles with faults, shared
#                                  among 8 consoles (about 40 minutes; see bench/soak.cpp for ARGS)
#   scripts/bench.sh modules [S]   the bench (--bench) instead: 64 and 128 simulated modules
#                                  beside one alone, then 16 for S seconds (default 600) beside
#                                  two busy cores
#   scripts/bench.sh floods [S]    the floods instead: SOH storm, unasked frames and noise against
#                                  the headless host and the window, S seconds each (default 600),
#                                  two at a time (3 x S in all)
# KALVOR_BENCH_BUILD overrides the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${KALVOR_BENCH_BUILD:-build-bench}"
jobs="$(nproc)"

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALVOR_BENCH=ON -DKALVOR_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j"$jobs"

if [ "${1:-}" = "soak" ]; then
    shift
    exec "$BUILD/soak" "$@"
fi
if [ "${1:-}" = "modules" ]; then
    "$BUILD/bench_modules" scale 64 20 || true
    "$BUILD/bench_modules" scale 128 20 || true
    exec "$BUILD/bench_modules" busy 16 "${2:-600}"
fi
if [ "${1:-}" = "floods" ]; then
    seconds="${2:-600}"
    for kind in soh unasked noise; do
        "$BUILD/bench_flood" headless "$kind" "$seconds" "$BUILD/kalvor-tp" &
        "$BUILD/bench_flood" window "$kind" "$seconds" "$BUILD/kalvor-tp"
        wait
    done
    exit 0
fi

export QT_QPA_PLATFORM=offscreen

echo "== Receiver and dispatcher: throughput and heap allocations"
"$BUILD/bench_dispatch" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
echo
echo "== ACK latency on a pseudo-terminal"
"$BUILD/bench_ack_latency" 2000
echo
echo "== 100-cycle dispense run against the simulator"
"$BUILD/bench_dispense_run" 100 2 0.1 38400
echo
echo "== kalvor-tp: start-up, idle CPU, resident memory"
"$BUILD/bench_process" "$BUILD/kalvor-tp" 7
if [ -x "$BUILD/bench_window" ]; then
    echo
    echo "== The window during a long run"
    "$BUILD/bench_window" 10200
    echo
    echo "== The window: time per frame with long panes"
    "$BUILD/bench_window" --panes
fi
