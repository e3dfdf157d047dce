#!/bin/sh
# Rebuilds the window and its GUI tests, then regenerates the pictures of the manual in docs/:
# the six pages (page-0-status.png ... page-5-notes-init.png), the "MENU" page after a dispense
# run on the built-in simulated module (window-after-dispense.png) and the "STATUS" page after a
# status request (window-after-status.png), and the run chart during a run (run-chart.png). The
# four everyday pages are drawn as a plain start shows them (four tabs), the two calibration pages
# with --calibration.
#
#   scripts/make_pictures.sh [BUILD_DIR]        (default BUILD_DIR: ../build-qt next to the tree)
#
# The pictures come from the Pictures tests of gui_tests, which also check every page (captions
# not cut off, nothing outside the window, nothing drawn over another control). No display is
# needed: Qt draws offscreen.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/../build-qt"}

cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target gui_tests

mkdir -p "$here/docs"
QT_QPA_PLATFORM=offscreen KALVOR_PICTURES_DIR="$here/docs" \
    "$build/gui_tests" --gtest_filter='Pictures.*:RunChart.CtrlGOpensTheChartOfTheWindowsRun'

ls -l "$here"/docs/page-*.png "$here"/docs/window-after-*.png "$here"/docs/run-chart.png
