#!/usr/bin/env bash
# Sets up and builds when needed, then starts the console on its built-in simulated module.
# Extra arguments go to kalvor-tp (for example: zeda1000, --calibration, --trace).
# Only the program it starts is built (kalvor-tp, which brings its window module), not the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh kalvor-tp
model=zeda2000
if [ "${1:-}" = zeda1000 ] || [ "${1:-}" = zeda2000 ]; then model=$1; shift; fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: starting headless. Type actions (e.g. 'click 1050', 'wait idle', 'print status', 'quit')."
    exec ./build/kalvor-tp --headless --simulate "$model" "$@"
fi
exec ./build/kalvor-tp --simulate "$model" "$@"
