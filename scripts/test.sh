#!/usr/bin/env bash
# Sets up and builds, then runs every test: the unit and channel tests and the fuzz corpus replay
# under AddressSanitizer + UndefinedBehaviorSanitizer, the channel tests under ThreadSanitizer, and last the whole suite
# (unit, channel, simulator, end to end, window under the offscreen platform, install tree).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: unit and channel tests, fuzz corpus replay"
cmake -S . -B build-asan -G Ninja -DKALVOR_WITH_QT=OFF -DKALVOR_SANITIZE=address >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests channel_tests fuzz_replay_console fuzz_replay_parsers fuzz_replay_script fuzz_replay_report
./build-asan/unit_tests --gtest_brief=1
./build-asan/channel_tests --gtest_brief=1
ctest --test-dir build-asan --output-on-failure -R '^fuzz_replay_'

echo "== ThreadSanitizer: channel tests"
cmake -S . -B build-tsan -G Ninja -DKALVOR_WITH_QT=OFF -DKALVOR_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target channel_tests
TSAN_OPTIONS="halt_on_error=1" ./build-tsan/channel_tests --gtest_brief=1

echo "== Every test"
ctest --test-dir build --output-on-failure -j"$jobs"
