#!/usr/bin/env bash
# The window program's command line, run for real: "tessaly FILE" opens the
# file at start as the Open command does (text, recent list, error report),
# and anything else on the command line is a usage error before any window.
#
#   tests/e2e/open_file_test.sh path/to/tessaly
set -euo pipefail

program=$(readlink -f "$1")
source "$(dirname "$0")/x_session.sh"

cp "$program" "$work/tessaly"
mkdir "$work/data"
printf '\x83\x65\x83\x58\x83\x67\r\nabc' > "$work/data/-in.txt"   # テスト, abc (no final CR LF)

# Usage errors: exit status 2, the usage on standard error, nothing on
# standard output, no window (offscreen: none could be seen anyway).
for args in "a.txt b.txt" "-x" "--bogus a.txt" "a.txt --no-such" "-- a.txt b.txt"; do
  status=0
  # shellcheck disable=SC2086
  QT_QPA_PLATFORM=offscreen "$work/tessaly" $args >"$work/out" 2>"$work/err" || status=$?
  [[ $status == 2 ]] || fail "tessaly $args: exit status $status, expected 2"
  [[ ! -s "$work/out" ]] || fail "tessaly $args wrote to standard output"
  grep -q '^Usage: tessaly \[--\] \[FILE\]' "$work/err" || fail "tessaly $args: no usage on standard error"
done
QT_QPA_PLATFORM=offscreen "$work/tessaly" --help | grep -q '^Usage: tessaly' || fail "--help"
[[ "$(QT_QPA_PLATFORM=offscreen "$work/tessaly" --version)" == "tessaly "[0-9]* ]] || fail "--version"
# Qt's own options are Qt's: -platform is not an unknown option.
QT_QPA_PLATFORM=xcb "$work/tessaly" -platform offscreen --version >/dev/null || fail "-platform taken for an option"
echo "ok - usage errors exit with status 2"

start_x_server
history="$work/sys.!!!"
recent() { printf '"%s"\r\n' "$@"; for ((i = $#; i < 5; i++)); do printf '""\r\n'; done; }

# Runs the program from a folder with the given arguments.
start_in() {
  local folder=$1; shift
  (cd "$folder" && "$work/tessaly" "$@" >"$work/app.log" 2>&1) &
  app_pid=$!
}
quit() {
  keys alt+f x
  wait_focus "URL Decode"
  keys y
  for _ in $(seq 1 100); do
    kill -0 "$app_pid" 2>/dev/null || { app_pid=""; return 0; }
    sleep 0.05
  done
  fail "the program did not end"
}
windows_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l; }
# Whether the window with the keyboard is a dialog over another window.
focus_is_dialog() {
  local id
  id=$(xdotool getwindowfocus 2>/dev/null) || return 1
  xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -q 'window id'
}

# A relative name that starts with "-", after "--": the text is in the box
# (saved through Save As to see it), and the full path tops the recent list.
start_in "$work/data" -- -in.txt
wait_focus "Tessaly"
keys alt+f a
wait_focus "名前を付けて保存"
keys ctrl+a
xdotool type --delay 10 "$work/data/out.txt"; sleep 0.2
keys Return
wait_focus "Tessaly"
quit
printf '\x83\x65\x83\x58\x83\x67\r\nabc\r\n\r\n' | cmp -s - "$work/data/out.txt" ||
  fail "the box did not hold the file: $(od -c "$work/data/out.txt")"
recent "$work/data/out.txt" "$work/data/-in.txt" | cmp -s - "$history" || fail "sys.!!! holds $(od -c "$history")"
echo "ok - tessaly -- FILE opens the file into the box and the recent list"

# The file goes on top of the list read from the history, not instead of it.
start_in "$work" "$work/data/-in.txt"
wait_focus "Tessaly"
sleep 0.5
! focus_is_dialog && [[ "$(windows_named Tessaly)" == 1 ]] || fail "a message box over a file that opened"
quit
recent "$work/data/-in.txt" "$work/data/out.txt" | cmp -s - "$history" || fail "sys.!!! holds $(od -c "$history")"
echo "ok - the file is added after the history is loaded"

# A file that cannot be opened: the file error report (a second window named
# Tessaly, a dialog over the main one, with the keyboard); the list stays as
# it was.
start_in "$work" missing.txt
for _ in $(seq 1 200); do
  [[ "$(windows_named Tessaly)" == 2 ]] && focus_is_dialog && [[ "$(focused_name)" == Tessaly ]] && break
  sleep 0.05
done
[[ "$(windows_named Tessaly)" == 2 ]] && focus_is_dialog || fail "no message box for a missing file"
sleep 0.3
keys Return
for _ in $(seq 1 100); do
  [[ "$(windows_named Tessaly)" == 1 ]] && break
  sleep 0.05
done
[[ "$(windows_named Tessaly)" == 1 ]] || fail "the message box did not close"
wait_focus "Tessaly"
quit
recent "$work/data/-in.txt" "$work/data/out.txt" | cmp -s - "$history" || fail "sys.!!! holds $(od -c "$history")"
echo "ok - a missing file is reported and not listed"
echo "open_file: 4 passed, 0 failed"
