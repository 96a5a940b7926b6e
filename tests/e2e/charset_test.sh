#!/usr/bin/env bash
# Drives the real program in a real X server by the keyboard: a browser's
# UTF-8 query decoded as Shift-JIS gives mojibake and a note; Ctrl+Z, then
# UTF-8 chosen through the access keys (Alt+T, K, U) decodes it.
#
#   tests/e2e/charset_test.sh path/to/tessaly
set -euo pipefail

program=$(readlink -f "$1")
source "$(dirname "$0")/x_session.sh"
start_x_server

cp "$program" "$work/tessaly"
mkdir "$work/data"

focused_id() { xdotool getwindowfocus 2>/dev/null || true; }

# Waits until the main window has the keyboard (is) or another window has it
# (not): the note carries the main window's title, so only ids tell them apart.
wait_main() {
    for _ in $(seq 1 200); do
        local id
        id=$(focused_id)
        if [[ -n "$id" && ( "$1" == is && "$id" == "$main_id" || "$1" == not && "$id" != "$main_id" ) ]]; then
            sleep 0.2
            return 0
        fi
        sleep 0.05
    done
    fail "waited for the main window's keyboard to be '$1' (focused: '$(focused_name)')"
}

hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }

(cd "$work" && ./tessaly >"$work/app.log" 2>&1) &
app_pid=$!
wait_focus "Tessaly"
main_id=$(focused_id)

xdotool type --delay 10 'q=%E3%83%86%E3%82%B9%E3%83%88'
sleep 0.2

# Decoded as Shift-JIS (the start state): the mojibake goes in and a note
# says which encoding reads the line; Enter closes it.
keys alt+t d
wait_main not
[[ "$(focused_name)" == "Tessaly" ]] || fail "the note's title is '$(focused_name)'"
keys Return
wait_main is
echo "ok - Shift-JIS decode of a UTF-8 query brings up the note"

# Ctrl+Z brings the query back; UTF-8 through the access keys decodes it
# without a word.
keys ctrl+z
keys alt+t k u
keys alt+t d
sleep 0.5
[[ "$(focused_id)" == "$main_id" ]] || fail "a box came up after the UTF-8 decode"

# Save As writes the text in Shift-JIS: q=テスト.
keys alt+f a
wait_focus "名前を付けて保存"
xdotool type --delay 10 "$work/data/out.txt"
sleep 0.2
keys Return
wait_main is
want="$(hex 'q=')836583588367""0d0a"
got=$(od -An -tx1 -v "$work/data/out.txt" | tr -d ' \n')
[[ "$got" == "$want" ]] || fail "out.txt holds $got, expected $want"
echo "ok - Ctrl+Z, Alt+T K U and URL Decode give q=テスト"

keys alt+f x
wait_focus "URL Decode"
keys y
for _ in $(seq 1 100); do
    kill -0 "$app_pid" 2>/dev/null || { app_pid=""; break; }
    sleep 0.05
done
[[ -z "$app_pid" ]] || fail "the program did not end"
echo "e2e charsets: 2 passed, 0 failed"
