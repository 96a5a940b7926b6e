#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   bash scripts/fuzz.sh          # 30 seconds a target (what CI runs)
#   bash scripts/fuzz.sh 3600     # an hour a target
# Inputs run up to 8 KiB (4096 UTF-16 units, past the codec's 2048-unit
# chunks). Inputs that break a property are written to build-fuzz/findings/ and fail
# the run. The committed seeds in fuzz/corpus/ are never modified; the
# corpus grown by a run is kept in build-fuzz/corpus/ for the next one.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build_dir=${BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSALY_FUZZ=ON -DTESSALY_BUILD_UI=OFF -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)" >/dev/null
mkdir -p "$build_dir/findings"
status=0
for target in codepage encode decode history lines editor stream eucjp; do
  corpus="$build_dir/corpus/$target"
  mkdir -p "$corpus"
  log="$build_dir/fuzz_$target.log"
  if "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build_dir/findings/${target}-" \
       "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$target: ${runs:-?} inputs in ${seconds} s, no failure"
  else
    echo "fuzz_$target: FAILED, see $log and $build_dir/findings/"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
