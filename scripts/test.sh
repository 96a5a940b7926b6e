#!/usr/bin/env bash
# Installs what is missing, builds Tessaly with its tests and runs them all:
#  1. the release build's whole suite (unit, window, end-to-end under Xvfb,
#     the Debian package);
#  2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer;
#  3. every fuzz target for FUZZ_SECONDS (30) seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

bash scripts/deps.sh --test

echo "== release build and tests"
bash scripts/build.sh
(cd build && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build and tests"
BUILD_DIR=build-asan bash scripts/build.sh -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_SANITIZE=ON \
  -DTESSALY_BUILD_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs" -E '^debian_package$')

echo "== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
