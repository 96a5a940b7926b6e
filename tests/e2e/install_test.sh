#!/usr/bin/env bash
# The installed program keeps its recent-file list in the user's state folder:
# a tree configured for a scratch prefix is built (the window only),
# installed there with `cmake --install`, and run twice under a private X
# server with a fresh HOME. Its install folder must stay as installed.
#
#   tests/e2e/install_test.sh SOURCE_DIR
set -euo pipefail

source=$(readlink -f "$1")
source "$(dirname "$0")/x_session.sh"

prefix="$work/prefix"
cmake -S "$source" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/build" -j2 --target tessaly >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; fail "build"; }
# Only the window's folder: the rest of the tree was not built.
cmake --install "$work/build/ui" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }
program="$prefix/bin/tessaly"
[[ -x "$program" ]] || fail "cmake --install did not put the program in $prefix/bin"
listing() { (cd "$prefix" && find . -printf '%p %s %m %T@\n' | sort); }
installed=$(listing)

start_x_server
unset XDG_STATE_HOME
export HOME="$work/home"   # fresh: no state folder yet
mkdir -p "$HOME" "$work/data"
printf 'abc\r\n' > "$work/data/in.txt"

start() {
    (cd "$work/data" && "$program" >"$work/app.log" 2>&1) &
    app_pid=$!
    wait_focus "Tessaly"
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

history="$HOME/.local/state/tessaly/sys.!!!"
start
keys alt+f o
wait_focus "開く"
xdotool type --delay 10 "$work/data/in.txt"; sleep 0.2
keys Return
wait_focus "Tessaly"
[[ ! -e "$HOME/.local" ]] || fail "the state folder was made before the history was written"
quit
printf '"%s"\r\n""\r\n""\r\n""\r\n""\r\n' "$work/data/in.txt" > "$work/want"
cmp -s "$work/want" "$history" || fail "the history holds $(od -c "$history" 2>&1 | head -n 3)"
# Folders it made and the file are the user's alone, whatever the umask.
for made in .local .local/state .local/state/tessaly; do
    [[ "$(stat -c %a "$HOME/$made")" == 700 ]] || fail "$made mode $(stat -c %a "$HOME/$made")"
done
[[ "$(stat -c %a "$history")" == 600 ]] || fail "sys.!!! mode $(stat -c %a "$history")"
echo "ok - the installed program writes its history to ~/.local/state/tessaly"

# After a restart the first recent item opens in.txt; saving it elsewhere
# shows what it held.
start
keys alt+f Down Down Return
wait_focus "Tessaly"
keys alt+f a
wait_focus "名前を付けて保存"
keys ctrl+a
xdotool type --delay 10 "$work/data/check.txt"; sleep 0.2
keys Return
wait_focus "Tessaly"
quit
[[ "$(od -An -tx1 -v "$work/data/check.txt" | tr -d ' \n')" == "6162630d0a0d0a" ]] || fail "check.txt: $(od -c "$work/data/check.txt")"
printf '"%s"\r\n"%s"\r\n""\r\n""\r\n""\r\n' "$work/data/check.txt" "$work/data/in.txt" > "$work/want"
cmp -s "$work/want" "$history" || fail "after the restart the history holds $(od -c "$history" | head -n 3)"
echo "ok - the list survives a restart"

[[ "$(listing)" == "$installed" ]] || fail "the install folder changed: $(diff <(echo "$installed") <(listing))"
echo "ok - nothing written into the install folder"
echo "install: 3 passed, 0 failed"
