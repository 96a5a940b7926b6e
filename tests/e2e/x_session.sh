# Sourced by the end-to-end scripts: a scratch folder removed at exit with
# everything they started, a private X server, and waiting for a window to
# get the keyboard.

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# A private X server on a free display, for this script and what it starts.
# The display is chosen here, not by the server (-displayfd): servers that
# choose at the same moment, for tests run side by side, can end up naming
# one display. Ours is the one whose lock file names our server.
start_x_server() {
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    export LANG=C LC_ALL=C
    local n=$((100 + RANDOM % 800))
    for _ in 1 2 3 4 5; do
        # -noreset: a server that resets when its last client leaves
        # refuses the clients that come during the reset.
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset 2>>"$work/xvfb.log" &
        xvfb_pid=$!
        export DISPLAY=":$n"
        for _ in $(seq 1 200); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if [[ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")" == "$xvfb_pid" ]] &&
                xdotool getmouselocation >/dev/null 2>&1; then
                return 0
            fi
            sleep 0.05
        done
        kill "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
        n=$((n + 1 + RANDOM % 50))
    done
    fail "Xvfb did not start: $(tail -n 5 "$work/xvfb.log")"
}

# Whether the X server takes a client (run through the command given after
# the count, e.g. as another user) within count twentieths of a second.
x_takes_clients() {
    local count=$1
    shift
    for _ in $(seq 1 "$count"); do
        "$@" xdotool getmouselocation >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}

# The same, failing the test when it does not.
wait_x_ready() {
    x_takes_clients 200 "$@" || fail "the X server on $DISPLAY takes no client${*:+ as: $*}: $(tail -n 5 "$work/xvfb.log")"
}

focused_name() { xdotool getwindowfocus getwindowname 2>/dev/null || true; }

# Waits until the focused window has the given title.
wait_focus() {
    local want=$1
    for _ in $(seq 1 600); do  # 30 s: a loaded machine (a sanitizer build, other tests) is slow
        [[ "$(focused_name)" == "$want" ]] && { sleep 0.2; return 0; }
        if [[ -n "$app_pid" ]] && ! kill -0 "$app_pid" 2>/dev/null; then
            fail "the program ended before window '$want' came up: $(tail -n 20 "$work/app.log" 2>/dev/null)"
        fi
        sleep 0.05
    done
    fail "window '$want' never got the keyboard (focused: '$(focused_name)')"
}

# Presses keys the way a person does, one after another.
keys() { xdotool key --delay 80 "$@"; sleep 0.3; }

# Ends the program the way a person does (File > Exit, Yes to the question)
# and checks that the history it wrote lists exactly the one file given.
exit_and_check_history() {
    local opened=$1
    keys alt+f x
    wait_focus "URL Decode"
    keys y
    for _ in $(seq 1 100); do
        kill -0 "$app_pid" 2>/dev/null || { wait "$app_pid" || true; app_pid=""; break; }
        sleep 0.05
    done
    [[ -z "$app_pid" ]] || fail "the program did not end"
    printf '"%s"\r\n""\r\n""\r\n""\r\n""\r\n' "$opened" > "$work/want"
    cmp -s "$work/want" "$work/sys.!!!" || fail "sys.!!! holds $(od -c "$work/sys.!!!" | head -n 3)"
}
