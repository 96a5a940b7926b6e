#!/usr/bin/env bash
# Drives the real program in a real X server the way a person does: by the
# keyboard, through the menus' access keys and the standard dialogs.
#
#   tests/e2e/e2e_test.sh path/to/tessaly
set -euo pipefail

program=$(readlink -f "$1")
source "$(dirname "$0")/x_session.sh"
start_x_server

# The program runs from a folder of its own, where its history file lives.
cp "$program" "$work/tessaly"
mkdir "$work/data"
printf '\x83\x65\x83\x58\x83\x67\r\nabc\r\n' > "$work/data/in.txt"   # テスト, abc

start() {
    (cd "$work" && ./tessaly >"$work/app.log" 2>&1) &
    app_pid=$!
    wait_focus "Tessaly"
}

type_text() { xdotool type --delay 10 "$1"; sleep 0.2; }

wait_exit() {
    for _ in $(seq 1 100); do
        kill -0 "$app_pid" 2>/dev/null || { app_pid=""; return 0; }
        sleep 0.05
    done
    fail "the program did not end"
}

expect_bytes() {
    local file=$1 want=$2
    [[ -f "$file" ]] || fail "$file was not written"
    local got
    got=$(od -An -tx1 -v "$file" | tr -d ' \n')
    [[ "$got" == "$want" ]] || fail "$file holds $got, expected $want"
}

hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }

start

# Open a Shift-JIS file by typing its path into the Open dialog.
keys alt+f o
wait_focus "開く"
type_text "$work/data/in.txt"
keys Return
wait_focus "Tessaly"

# URL Encode, then Save As to a new name: written at once, no question.
keys alt+t e
keys alt+f a
wait_focus "名前を付けて保存"
type_text "$work/data/out.txt"
keys Return
wait_focus "Tessaly"
encoded="%83e%83X%83g%0D%0Aabc%0D%0A"
expect_bytes "$work/data/out.txt" "$(hex "$encoded")0d0a"
echo "ok - open, encode, save as"

# Save As again: the dialog starts at the newest file; answering the
# overwrite question with Enter (No) leaves the file as it was.
before=$(stat -c %Y.%s "$work/data/out.txt")
keys alt+t d
keys alt+f a
wait_focus "名前を付けて保存"
keys Return
wait_focus "File Save"
keys Return
wait_focus "Tessaly"
expect_bytes "$work/data/out.txt" "$(hex "$encoded")0d0a"
[[ "$(stat -c %Y.%s "$work/data/out.txt")" == "$before" ]] || fail "out.txt changed"
echo "ok - overwrite answered No keeps the file"

# Exit, answered No first (Enter), then Yes.
keys alt+f x
wait_focus "URL Decode"
keys Return
wait_focus "Tessaly"
[[ ! -e "$work/sys.!!!" ]] || fail "history written although the exit was refused"
keys alt+f x
wait_focus "URL Decode"
keys y
wait_exit
printf '"%s"\r\n"%s"\r\n""\r\n""\r\n""\r\n' "$work/data/out.txt" "$work/data/in.txt" > "$work/want"
cmp -s "$work/want" "$work/sys.!!!" || fail "sys.!!! holds $(od -c "$work/sys.!!!")"
echo "ok - exit writes the history"

# After a restart the File menu lists the files: its first recent item
# (below Open and Save As) opens out.txt without a dialog; save what it
# shows to check.
start
keys alt+f Down Down Return
wait_focus "Tessaly"
keys alt+f a
wait_focus "名前を付けて保存"
keys ctrl+a
type_text "$work/data/check.txt"
keys Return
wait_focus "Tessaly"
expect_bytes "$work/data/check.txt" "$(hex "$encoded")0d0a0d0a"
echo "ok - the recent-file item opens the file after a restart"

keys alt+f x
wait_focus "URL Decode"
keys y
wait_exit
echo "e2e: 4 passed, 0 failed"
