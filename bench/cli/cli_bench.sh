#!/usr/bin/env bash
# Whole-process speed and peak memory of tessaly-cli next to its peers on one
# 16 MiB Shift-JIS text and its encoded form, and a 1 GiB round trip through
# `encode | decode` in constant memory; then one table of encode and decode on
# every benchmark corpus next to iconv (see corpus_table.py).
#   bash bench/cli/cli_bench.sh [CLI] [OTHER_CLI]
# CLI defaults to build/cli/tessaly-cli; OTHER_CLI (optional, e.g. an older
# build) is timed in the same run for comparison. RUNS (default 7) runs per
# row, the median is shown (a run of a short command repeats it for 0.2 s).
# ROUNDTRIP_MIB (default 1024, 0 skips) sizes the round trip. nkf rows are
# skipped when nkf is not installed.
# CORPORA=only prints just the corpus table (CORPUS_NAMES="prose log" only
# those corpora), CORPORA=no leaves it out. The corpora come from
# CORPUS_TOOL (default build/bench/codec/tessaly_bench_corpus, built with the
# benchmarks); the table is skipped without it.
set -euo pipefail
cd "$(dirname "$0")/../.."
cli=${1:-build/cli/tessaly-cli}
other=${2:-}
runs=${RUNS:-7}
roundtrip_mib=${ROUNDTRIP_MIB:-1024}
corpora=${CORPORA:-yes}
corpus_tool=${CORPUS_TOOL:-build/bench/codec/tessaly_bench_corpus}

corpus_table() {
  if [[ -x "$corpus_tool" ]]; then
    # shellcheck disable=SC2086  # names are words
    python3 bench/cli/corpus_table.py "$cli" "$corpus_tool" "$runs" ${CORPUS_NAMES:-}
  else
    echo "(corpus table skipped: build $corpus_tool with the benchmarks)"
  fi
}
if [[ "$corpora" == only ]]; then
  corpus_table
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (Debian package: time)" >&2; exit 1; }

# The text: Japanese lines of kanji, kana, half-width kana and ASCII.
python3 - "$work/text.sjis" <<'PY'
import random, sys
random.seed(932)
kana = [chr(c) for c in range(0x3041, 0x3094)] + [chr(c) for c in range(0x30A1, 0x30F7)]
kanji = "日本語漢字変換文字列符号化復号試験東京大阪名古屋時間分秒年月曜週末" \
        "情報処理速度記録設定画面表示入力出力検索置換保存読込終了開始"
ascii_ = "abcdefghijklmnopqrstuvwxyz0123456789 =&?/.-_"
half = [chr(c) for c in range(0xFF66, 0xFF9E)]
pools = [kanji] * 4 + [kana] * 4 + [ascii_] * 2 + [half]
out = bytearray()
while len(out) < 16 << 20:
    line = "".join(random.choice(random.choice(pools)) for _ in range(random.randint(10, 80)))
    out += line.encode("cp932") + b"\r\n"
out = out[:16 << 20]
out = out[:out.rindex(b"\r\n") + 2]  # whole lines only
open(sys.argv[1], "wb").write(out)
PY
"$cli" encode "$work/text.sjis" >"$work/text.enc"
size_text=$(stat -c %s "$work/text.sjis")
size_enc=$(stat -c %s "$work/text.enc")

# How many times to run a command of about $1 seconds so that a timing spans
# at least 0.2 s and the shell's own start-up is shared out among them.
repeats() {
  local cs
  cs=$(awk -v s="$1" 'BEGIN { printf "%d", s * 100 }')
  ((cs >= 1)) || cs=1
  echo $(((20 + cs - 1) / cs))
}

# Prints the seconds that $2 runs of the command take, in one shell.
timed() {
  local s e
  s=$(date +%s.%N); bash -c "for ((k = 0; k < $2; k++)); do $1; done" >/dev/null 2>&1 </dev/null; e=$(date +%s.%N)
  echo "$e - $s" | bc -l
}

# Prints "seconds peak_kib" for the command, median of $runs runs.
measure() {
  local times=() mems=() t
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%e %M" -o "$work/time" bash -c "$1" >/dev/null 2>&1 </dev/null
    read -r t m < <(tail -n 1 "$work/time")
    times+=("$t"); mems+=("$m")
  done
  # %e has 10 ms steps: time again with date for finer numbers, a short
  # command several times over.
  local reps fine=()
  reps=$(repeats "$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")")
  for ((i = 0; i < runs; i++)); do
    fine+=("$(echo "$(timed "$1" "$reps") / $reps" | bc -l)")
  done
  local med mem
  med=$(printf '%s\n' "${fine[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  mem=$(printf '%s\n' "${mems[@]}" | sort -g | tail -1)
  echo "$med $mem"
}

declare -A secs mem cmds
rows=()
add() {  # name input_bytes command
  local r
  r=$(measure "$3")
  secs[$1]=${r% *}; mem[$1]=${r#* }; cmds[$1]=$3
  rows+=("$1|$2")
}

py_quote='import sys, urllib.parse; sys.stdout.write(urllib.parse.quote_from_bytes(open(sys.argv[1], "rb").read(), safe=bytes(range(32, 127))))'
py_unquote='import sys, urllib.parse; sys.stdout.buffer.write(urllib.parse.unquote_to_bytes(open(sys.argv[1], "rb").read()))'

add "tessaly-cli encode" "$size_text" "'$cli' encode '$work/text.sjis'"
add "tessaly-cli decode" "$size_enc" "'$cli' decode '$work/text.enc'"
if [[ -n "$other" ]]; then
  add "other encode" "$size_text" "'$other' encode '$work/text.sjis'"
  add "other decode" "$size_enc" "'$other' decode '$work/text.enc'"
fi
add "iconv CP932 to UTF-16LE" "$size_text" "iconv -f CP932 -t UTF-16LE '$work/text.sjis'"
add "python quote_from_bytes" "$size_text" "python3 -c '$py_quote' '$work/text.sjis'"
add "python unquote_to_bytes" "$size_enc" "python3 -c '$py_unquote' '$work/text.enc'"
if command -v nkf >/dev/null; then
  add "nkf --url-input" "$size_enc" "nkf --url-input -S -s '$work/text.enc'"
else
  echo "(nkf not installed: its row is skipped; Debian package nkf)"
fi

# The encodings behind the escapes, the escape sets, "+" and --detect, each
# beside the code page 932 route on the same text, and Python's quote and
# unquote with the same encoding.
"$cli" encode --charset utf-8 "$work/text.sjis" >"$work/text.u8.enc"
"$cli" encode --charset euc-jp "$work/text.sjis" >"$work/text.euc.enc"
"$cli" encode --escape form "$work/text.sjis" >"$work/text.form.enc"
"$cli" encode --charset utf-8 --escape form "$work/text.sjis" >"$work/text.u8form.enc"
"$cli" encode --charset euc-jp --escape form "$work/text.sjis" >"$work/text.eucform.enc"
# A log: each line in the next encoding in turn.
python3 - "$work/text.sjis" "$work/mixed.enc" <<'PY'
import sys, urllib.parse
lines = open(sys.argv[1], "rb").read().decode("cp932").split("\r\n")
out = []
for i, line in enumerate(lines):
    enc = ("cp932", "utf-8", "euc-jp")[i % 3]
    out.append(urllib.parse.quote(line, safe=bytes(range(32, 127)), encoding=enc))
open(sys.argv[2], "w").write("\n".join(out))
PY
# The text without half-width kana. Today's route reads an escape with the
# one after it, so an escaped half-width kana before a double-byte
# character's escapes is not given back: it takes the slow way, which makes
# the decode rows measured against it look faster than they are. On this
# text each of the three decodes cleanly.
python3 - "$work/text.sjis" "$work/plain.sjis" <<'PY'
import sys
text = open(sys.argv[1], "rb").read().decode("cp932")
open(sys.argv[2], "wb").write("".join(c for c in text if not "\uff61" <= c <= "\uff9f").encode("cp932"))
PY
"$cli" encode "$work/plain.sjis" >"$work/plain.enc"
"$cli" encode --charset utf-8 "$work/plain.sjis" >"$work/plain.u8.enc"
"$cli" encode --charset euc-jp "$work/plain.sjis" >"$work/plain.euc.enc"
# The text in UTF-8, for the rows whose text side is UTF-8 (--utf8).
"$cli" decode --charset utf-8 --utf8 "$work/text.u8.enc" >"$work/text.u8"
size_text_u8=$(stat -c %s "$work/text.u8")
size_plain=$(stat -c %s "$work/plain.enc"); size_plain_u8=$(stat -c %s "$work/plain.u8.enc")
size_plain_euc=$(stat -c %s "$work/plain.euc.enc")
size_u8=$(stat -c %s "$work/text.u8.enc"); size_euc=$(stat -c %s "$work/text.euc.enc")
size_form=$(stat -c %s "$work/text.form.enc"); size_u8form=$(stat -c %s "$work/text.u8form.enc")
size_eucform=$(stat -c %s "$work/text.eucform.enc")
size_mixed=$(stat -c %s "$work/mixed.enc")
url_rows=()
declare -A ratio
# The row of the second table that a row is measured against: the same route
# in Shift_JIS, or for a --detect row its fixed encoding.
base_of() {
  case $1 in
    "encode --utf8") echo "$1" ;;
    "encode utf-8 --utf8") echo "encode --utf8" ;;
    encode*|"python quote"*) echo "encode (Shift_JIS)" ;;
    "decode mixed log, --detect") echo "decode mixed log, Shift_JIS" ;;
    "decode --plus"|"decode utf-8 --plus"|"decode euc-jp --plus") echo "decode form, Shift_JIS" ;;
    "decode mixed log, --detect "*) echo "decode mixed log, ${1##* }" ;;
    "decode mixed log, "*) echo "decode mixed log, Shift_JIS" ;;
    "detect one line, utf-8") echo "decode --charset utf-8" ;;
    "detect one line, euc-jp") echo "decode --charset euc-jp" ;;
    "decode --utf8, no half-width kana") echo "$1" ;;
    "decode utf-8 --utf8, no half-width kana") echo "decode --utf8, no half-width kana" ;;
    "decode"*"no half-width kana") echo "decode, no half-width kana" ;;
    *) echo "decode (Shift_JIS)" ;;
  esac
}
# The median over $runs pairs of the command's time over the base command's,
# the two timed in turn (each run $3 times in one shell) so that both see the
# machine alike.
pair_ratio() {  # command base_command repeats
  local ratios=() a b
  for ((i = 0; i < runs; i++)); do
    b=$(timed "$2" "$3")
    a=$(timed "$1" "$3")
    ratios+=("$(echo "$a / $b" | bc -l)")
  done
  printf '%s\n' "${ratios[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}
add_url() {  # name input_bytes command (a row of the second table)
  add "$@"
  url_rows+=("$1")
  local base
  base=$(base_of "$1")
  if [[ "$base" != "$1" && "$1" != python* ]]; then
    ratio[$1]=$(pair_ratio "$3" "${cmds[$base]}" "$(repeats "${secs[$base]}")")
  fi
}
add_url "encode (Shift_JIS)" "$size_text" "'$cli' encode '$work/text.sjis'"
add_url "encode --charset utf-8" "$size_text" "'$cli' encode --charset utf-8 '$work/text.sjis'"
add_url "encode --charset euc-jp" "$size_text" "'$cli' encode --charset euc-jp '$work/text.sjis'"
add_url "encode --escape component" "$size_text" "'$cli' encode --escape component '$work/text.sjis'"
add_url "encode --escape form" "$size_text" "'$cli' encode --escape form '$work/text.sjis'"
add_url "encode utf-8 form" "$size_text" "'$cli' encode --charset utf-8 --escape form '$work/text.sjis'"
# The same text in UTF-8 (--utf8), into code page 932 and UTF-8 escapes.
add_url "encode --utf8" "$size_text_u8" "'$cli' encode --utf8 '$work/text.u8'"
add_url "encode utf-8 --utf8" "$size_text_u8" "'$cli' encode --charset utf-8 --utf8 '$work/text.u8'"
add_url "decode (Shift_JIS)" "$size_enc" "'$cli' decode '$work/text.enc'"
add_url "decode --charset utf-8" "$size_u8" "'$cli' decode --charset utf-8 '$work/text.u8.enc'"
add_url "decode --charset euc-jp" "$size_euc" "'$cli' decode --charset euc-jp '$work/text.euc.enc'"
add_url "decode, no half-width kana" "$size_plain" "'$cli' decode '$work/plain.enc'"
add_url "decode utf-8, no half-width kana" "$size_plain_u8" "'$cli' decode --charset utf-8 '$work/plain.u8.enc'"
add_url "decode euc-jp, no half-width kana" "$size_plain_euc" "'$cli' decode --charset euc-jp '$work/plain.euc.enc'"
# The same into UTF-8 text (--utf8).
add_url "decode --utf8, no half-width kana" "$size_plain" "'$cli' decode --utf8 '$work/plain.enc'"
add_url "decode utf-8 --utf8, no half-width kana" "$size_plain_u8" "'$cli' decode --charset utf-8 --utf8 '$work/plain.u8.enc'"
# The form texts through the route of today (a "+" stays a "+"): the base
# of the "+" rows, which read the same text.
add_url "decode form, Shift_JIS" "$size_form" "'$cli' decode '$work/text.form.enc'"
add_url "decode --plus" "$size_form" "'$cli' decode --plus '$work/text.form.enc'"
add_url "decode utf-8 --plus" "$size_u8form" "'$cli' decode --charset utf-8 --plus '$work/text.u8form.enc'"
add_url "decode euc-jp --plus" "$size_eucform" "'$cli' decode --charset euc-jp --plus '$work/text.eucform.enc'"
add_url "decode mixed log, Shift_JIS" "$size_mixed" "'$cli' decode '$work/mixed.enc'"
add_url "decode mixed log, --detect" "$size_mixed" "'$cli' decode --detect '$work/mixed.enc'"
add_url "decode mixed log, utf-8" "$size_mixed" "'$cli' decode --charset utf-8 '$work/mixed.enc'"
add_url "decode mixed log, --detect utf-8" "$size_mixed" "'$cli' decode --detect --charset utf-8 '$work/mixed.enc'"
add_url "decode mixed log, euc-jp" "$size_mixed" "'$cli' decode --charset euc-jp '$work/mixed.enc'"
add_url "decode mixed log, --detect euc-jp" "$size_mixed" "'$cli' decode --detect --charset euc-jp '$work/mixed.enc'"
# The encoded texts are one line each (their line breaks are escapes):
# detection decides them a cap's worth at a time.
add_url "detect one line, Shift_JIS" "$size_enc" "'$cli' decode --detect '$work/text.enc'"
add_url "detect one line, utf-8" "$size_u8" "'$cli' decode --detect '$work/text.u8.enc'"
add_url "detect one line, euc-jp" "$size_euc" "'$cli' decode --detect '$work/text.euc.enc'"
py_q='import sys, urllib.parse; sys.stdout.write(urllib.parse.quote(open(sys.argv[1], encoding="cp932", newline="").read(), safe=bytes(range(32, 127)), encoding=sys.argv[2]))'
py_u='import sys, urllib.parse; sys.stdout.buffer.write(urllib.parse.unquote(open(sys.argv[1]).read(), encoding=sys.argv[2]).encode("cp932", "replace"))'
add_url "python quote utf-8" "$size_text" "python3 -c '$py_q' '$work/text.sjis' utf-8"
add_url "python quote euc-jp" "$size_text" "python3 -c '$py_q' '$work/text.sjis' euc-jp"
add_url "python unquote utf-8" "$size_u8" "python3 -c '$py_u' '$work/text.u8.enc' utf-8"
add_url "python unquote euc-jp" "$size_euc" "python3 -c '$py_u' '$work/text.euc.enc' euc-jp"

iconv_s=${secs["iconv CP932 to UTF-16LE"]}
printf '%-26s %9s %9s %9s %10s\n' "row (16 MiB input)" seconds "MB/s" "/iconv" "peak MiB"
for row in "${rows[@]}"; do
  name=${row%|*}; bytes=${row#*|}
  s=${secs[$name]}
  printf '%-26s %9.3f %9.0f %9.2f %10.1f\n' "$name" "$s" "$(echo "$bytes / $s / 1000000" | bc -l)" \
    "$(echo "$s / $iconv_s" | bc -l)" "$(echo "${mem[$name]} / 1024" | bc -l)"
done
echo
echo "(each row over the same route in Shift_JIS on the same text, a \"+\" row over the same form text in"
echo " Shift_JIS, a --detect row over its fixed encoding: the median of $runs pairs timed in turn; python rows"
echo " by their medians)"
printf '%-40s %9s %12s\n' "URL route (16 MiB of text)" seconds "/base"
for name in "${url_rows[@]}"; do
  base=$(base_of "$name")
  r=${ratio[$name]:-$(echo "${secs[$name]} / ${secs[$base]}" | bc -l)}
  printf '%-40s %9.3f %12.2f\n' "$name" "${secs[$name]}" "$r"
done
printf 'utf-8: encode %.1fx, decode %.1fx faster than python; euc-jp: encode %.1fx, decode %.1fx\n' \
  "$(echo "${secs["python quote utf-8"]} / ${secs["encode --charset utf-8"]}" | bc -l)" \
  "$(echo "${secs["python unquote utf-8"]} / ${secs["decode --charset utf-8"]}" | bc -l)" \
  "$(echo "${secs["python quote euc-jp"]} / ${secs["encode --charset euc-jp"]}" | bc -l)" \
  "$(echo "${secs["python unquote euc-jp"]} / ${secs["decode --charset euc-jp"]}" | bc -l)"
echo

# Start-up: one short line, what a script that runs the program once a line
# pays each time (started from a running bash, as the rows above).
head -n 1 "$work/text.sjis" >"$work/line.sjis"
"$cli" encode "$work/line.sjis" >"$work/line.enc"
"$cli" encode --charset utf-8 "$work/line.sjis" >"$work/line.u8.enc"
printf '%-32s %9s\n' "one short line" ms
for row in "encode|'$cli' encode '$work/line.sjis'" "encode --charset utf-8|'$cli' encode --charset utf-8 '$work/line.sjis'" \
           "decode|'$cli' decode '$work/line.enc'" "decode --charset utf-8|'$cli' decode --charset utf-8 '$work/line.u8.enc'" \
           "decode --detect|'$cli' decode --detect '$work/line.enc'"; do
  r=$(measure "${row#*|}")
  printf '%-32s %9.1f\n' "${row%%|*}" "$(echo "${r% *} * 1000" | bc -l)"
done
echo

py_e=${secs["python quote_from_bytes"]}; py_d=${secs["python unquote_to_bytes"]}
printf 'encode: %.1fx faster than python; decode: %.1fx faster than python\n' \
  "$(echo "$py_e / ${secs["tessaly-cli encode"]}" | bc -l)" "$(echo "$py_d / ${secs["tessaly-cli decode"]}" | bc -l)"

if ((roundtrip_mib > 0)); then
  # The text repeated to the size, through a pipe of encode and decode.
  python3 - "$work/text.sjis" "$roundtrip_mib" "$work/big.sums" "$cli" "$work" <<'PY'
import hashlib, subprocess, sys, resource, os
# Without half-width kana: a single escaped byte before a double-byte
# character's two escapes is not one the decoder gives back.
text = "".join(c for c in open(sys.argv[1], "rb").read().decode("cp932")
               if not "\uff61" <= c <= "\uff9f").encode("cp932")
total = int(sys.argv[2]) << 20
cli, work = sys.argv[4], sys.argv[5]
enc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", work + "/enc.mem", cli, "encode"],
                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
dec = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", work + "/dec.mem", cli, "decode"],
                       stdin=enc.stdout, stdout=subprocess.PIPE)
enc.stdout.close()
import threading
want = hashlib.sha256()
def feed():
    for _ in range((total + len(text) - 1) // len(text)):  # whole copies
        want.update(text)
        enc.stdin.write(text)
    enc.stdin.close()
t = threading.Thread(target=feed); t.start()
got = hashlib.sha256(); n = 0
while True:
    b = dec.stdout.read(1 << 20)
    if not b: break
    got.update(b); n += len(b)
t.join(); enc.wait(); dec.wait()
em = int(open(work + "/enc.mem").read().split()[-1]); dm = int(open(work + "/dec.mem").read().split()[-1])
ok = got.digest() == want.digest()
print(f"round trip of {n / (1 << 20):.0f} MiB through encode | decode: {'identical' if ok else 'DIFFERENT'}; "
      f"peak memory encode {em / 1024:.1f} MiB, decode {dm / 1024:.1f} MiB")
sys.exit(0 if ok and em < 64 * 1024 and dm < 64 * 1024 else 1)
PY
fi

if [[ "$corpora" != no ]]; then
  corpus_table
fi
