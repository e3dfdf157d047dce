#!/bin/sh
# Makes the pictures of the README's "Report" section in docs/:
#   report.png     the burn-in report of three faulted simulator burn-ins (zeda-sim with dropped
#                  and NAKed ACKs, late answers, corrupt BCCs, noise, missing answers and a
#                  module error), rendered by headless Chromium
#   run-chart.png  the live run chart during a 40-cycle run on the built-in simulated module
#                  (offscreen grab, from the RunChart GUI test)
#
#   scripts/make_report_pictures.sh [BUILD_DIR]        (default BUILD_DIR: build)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
cmake --build "$build" -j2 --target kalvor-tp zeda-sim gui_tests
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Three runs of 60 cycles on each module, 3 notes from the upper cassette a cycle.
burn_in() {
    name=$1
    shift
    "$build/zeda-sim" --model 2000 --time-scale 0.25 "$@" >"$work/$name.pty" 2>/dev/null &
    sim=$!
    while [ ! -s "$work/$name.pty" ]; do sleep 0.1; done
    printf 'tab 1\ncheck 1026\nset 1028 3\nset 1030 60\nclick 1020\nwait run 300000\nclick 1020\nwait run 300000\nclick 1020\nwait run 300000\nquit\n' |
        KALVOR_COM1=$(head -1 "$work/$name.pty") "$build/kalvor-tp" --headless --results "$work/$name.csv" >/dev/null || true
    kill "$sim"
}
burn_in module-a --drop-ack=0.03 --late=0.04 --late-ms=2500 --reject-rate 0.02 --seed 11
burn_in module-b --nak-ack=0.05 --corrupt-bcc=0.03 --reject-rate 0.01 --error-at=70:38 --seed 12
burn_in module-c --no-answer=0.01 --noise=0.05 --reject-rate 0.05 --seed 13

cd "$work"
"$build/kalvor-tp" --report report.html module-a.csv module-b.csv module-c.csv || true
chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/chromium" \
    --screenshot="$here/docs/report.png" --window-size=1000,1900 "file://$work/report.html" 2>/dev/null

QT_QPA_PLATFORM=offscreen KALVOR_PICTURES_DIR="$here/docs" \
    "$build/gui_tests" --gtest_filter='RunChart.CtrlGOpensTheChartOfTheWindowsRun'
ls -l "$here/docs/report.png" "$here/docs/run-chart.png"
