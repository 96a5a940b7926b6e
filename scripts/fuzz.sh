#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   bash scripts/fuzz.sh                    # 30 seconds a target (what CI runs)
#   bash scripts/fuzz.sh 3600               # an hour a target
#   bash scripts/fuzz.sh 600 history editor # only the targets named
# Inputs run up to 8 KiB (4096 UTF-16 units, past the codec's 2048-unit
# chunks). Inputs that break a property are written to build-fuzz/findings/ and fail
# the run. The committed seeds in fuzz/corpus/ are never modified; the
# corpus grown by a run is kept in build-fuzz/corpus/ for the next one, so
# that runs add up.
set -euo pipefail
cd "$(dirname "$0")/.."
# The targets fuzz/CMakeLists.txt builds.
read -r -a all_targets <<<"$(sed -n 's/^foreach(target \(.*\))$/\1/p' fuzz/CMakeLists.txt)"
((${#all_targets[@]})) || { echo "no fuzz targets found in fuzz/CMakeLists.txt" >&2; exit 2; }
seconds=${1:-30}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS [TARGET...]]; targets: ${all_targets[*]}" >&2; exit 2; }
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $target "* ]] || { echo "unknown target: $target (one of: ${all_targets[*]})" >&2; exit 2; }
done
build_dir=${BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSALY_FUZZ=ON -DTESSALY_BUILD_UI=OFF -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null
mkdir -p "$build_dir/findings"
status=0
for target in "${targets[@]}"; do
  corpus="$build_dir/corpus/$target"
  mkdir -p "$corpus"
  log="$build_dir/fuzz_$target.log"
  if "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build_dir/findings/${target}-" \
       "$corpus" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    kept=$(find "$corpus" -type f | wc -l)
    echo "fuzz_$target: ${runs:-?} inputs in ${seconds} s (${rate:-?}/s), no failure; corpus $kept inputs"
  else
    echo "fuzz_$target: FAILED, see $log and $build_dir/findings/"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
