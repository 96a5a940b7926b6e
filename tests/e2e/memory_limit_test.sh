#!/usr/bin/env bash
# The real program under an address-space limit (ulimit -v), driven by the
# keyboard in a private X server: a 40 MB text copied and pasted three times,
# past what the limit lets it hold, is refused with the program's message,
# and the program lives on and ends normally.
#
#   tests/e2e/memory_limit_test.sh path/to/tessaly
set -euo pipefail

program=$(readlink -f "$1")
if ldd "$program" 2>/dev/null | grep -q 'libasan'; then
    echo "SKIP: AddressSanitizer reserves more address space than the limit allows"
    exit 77
fi
source "$(dirname "$0")/x_session.sh"
start_x_server

cp "$program" "$work/tessaly"
mkdir -p "$work/data" "$work/home"
export HOME="$work/home"
# 40 MB of Shift-JIS-compatible text in lines.
python3 - "$work/data/big.txt" <<'PY'
import sys
line = b"GET /search?q=%83e%83X%83g&page=12 HTTP/1.1 200 4096\r\n"
with open(sys.argv[1], "wb") as f:
    f.write(line * (40_000_000 // len(line)))
PY
size=$(stat -c %s "$work/data/big.txt")

(cd "$work" && ulimit -v 1000000 && exec ./tessaly "$work/data/big.txt" >"$work/app.log" 2>&1) &
app_pid=$!
alive() { kill -0 "$app_pid" 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/app.log")"; }
wait_focus "Tessaly"
alive
# The message box has the window's title: tell them apart by window.
main_window=$(xdotool getwindowfocus)

refused=0
keys ctrl+a ctrl+c ctrl+End
for paste in 1 2 3; do
    keys ctrl+v
    # Either the paste went in or the message came up; answer it.
    sleep 2
    alive
    if [[ "$(xdotool getwindowfocus)" != "$main_window" ]]; then
        refused=$((refused + 1))
        keys Return
        for _ in $(seq 1 300); do
            [[ "$(xdotool getwindowfocus)" == "$main_window" ]] && break
            sleep 0.1
        done
    fi
    alive
done
((refused > 0)) || fail "no paste was refused: the limit did not bite"
echo "ok - pastes past the limit are refused ($refused of 3) and the program runs on"

# Still at work: it ends normally, its history listing the file opened.
exit_and_check_history "$work/data/big.txt"
echo "ok - the program ended normally"
echo "memory limit: 2 passed, 0 failed"
