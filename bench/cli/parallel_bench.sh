#!/usr/bin/env bash
# tessaly-cli across cores with GNU parallel: a generated access log of
# percent-encoded requests (UTF-8, Shift_JIS, EUC-JP), decoded by one process and by pieces cut
# at line ends (--pipe: parallel reads standard input and hands out blocks;
# --pipepart: each job reads its own part of the file), -k keeping the
# pieces in order. Checks that every row's output equals the single
# process's, then prints wall seconds (median of RUNS, default 3) and MiB/s.
#   bash bench/cli/parallel_bench.sh [CLI]
# SIZE_MIB (default 512) sizes the log; JOBS (default: the cores) the jobs;
# ARGS (default "decode --detect --utf8") are tessaly-cli's arguments.
set -euo pipefail
cd "$(dirname "$0")/../.."
cli=$(readlink -f "${1:-build/cli/tessaly-cli}")
size_mib=${SIZE_MIB:-512}
runs=${RUNS:-3}
jobs=${JOBS:-$(nproc)}
args=${ARGS:-decode --detect --utf8}
command -v parallel >/dev/null || { echo "needs GNU parallel (Debian package: parallel)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1 MiB of log lines, then repeated to the size asked for.
python3 - "$work/block" <<'PY'
import random, sys, urllib.parse
random.seed(18)
words = ["東京", "大阪", "検索", "テスト", "日本語", "ﾃｽﾄ", "会議室", "予約", "search", "page", "a b"]
out = bytearray()
while len(out) < 1 << 20:
    # Requests from browsers and from older sites: UTF-8 mostly, some
    # Shift_JIS and EUC-JP.
    encoding = random.choice(["utf-8", "utf-8", "utf-8", "cp932", "euc_jp"])
    q = "+".join(random.choice(words) for _ in range(random.randint(1, 4)))
    path = "/" + urllib.parse.quote(random.choice(words), safe="", encoding=encoding)
    line = (f'192.0.2.{random.randint(1, 254)} - - [09/Dec/2026:10:{random.randint(0, 59):02d}:00 +0000] '
            f'"GET {path}?q={urllib.parse.quote(q, safe="+", encoding=encoding)} HTTP/1.1" 200 '
            f'{random.randint(100, 99999)}\n')
    out += line.encode()
open(sys.argv[1], "wb").write(out[:out.rindex(b"\n") + 1])
PY
for ((i = 0; i < size_mib; i++)); do cat "$work/block"; done > "$work/huge.log"
bytes=$(stat -c %s "$work/huge.log")

single="'$cli' $args < '$work/huge.log'"
pipe="parallel --pipe --block 64M -k -j $jobs '$cli' $args < '$work/huge.log'"
pipepart="parallel --pipepart -a '$work/huge.log' --block 64M -k -j $jobs '$cli' $args"

bash -c "$single" > "$work/want" 2>/dev/null
for row in pipe pipepart; do
  bash -c "${!row}" > "$work/got" 2>/dev/null
  cmp -s "$work/want" "$work/got" || { echo "$row: output differs from the single process's" >&2; exit 1; }
done

seconds() {  # median wall seconds of the command, output thrown away
  local all=()
  for ((i = 0; i < runs; i++)); do
    local s e
    s=$(date +%s.%N); bash -c "$1" > /dev/null 2>&1; e=$(date +%s.%N)
    all+=("$(echo "$e - $s" | bc -l)")
  done
  printf '%s\n' "${all[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}

printf "tessaly-cli $args on a %d MiB access log, %d cores, %d jobs, median of %d\n" \
  $((bytes >> 20)) "$(nproc)" "$jobs" "$runs"
printf '%-44s %9s %9s\n' "row" "seconds" "MiB/s"
for row in single pipe pipepart; do
  t=$(seconds "${!row}")
  label=$row
  [[ $row == single ]] && label="one process"
  [[ $row == pipe ]] && label="parallel --pipe --block 64M -k"
  [[ $row == pipepart ]] && label="parallel --pipepart -a FILE --block 64M -k"
  printf '%-44s %9.2f %9.0f\n' "$label" "$t" "$(echo "$bytes / 1048576 / $t" | bc -l)"
done
