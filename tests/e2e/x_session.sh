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
start_x_server() {
    exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!")
    read -r _ xvfb_pid <&3
    local display=""
    read -r display <&3 || true
    [[ -n "$display" ]] || fail "Xvfb did not start"
    export DISPLAY=":$display"
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    export LANG=C LC_ALL=C
}

focused_name() { xdotool getwindowfocus getwindowname 2>/dev/null || true; }

# Waits until the focused window has the given title.
wait_focus() {
    local want=$1
    for _ in $(seq 1 600); do  # 30 s: a loaded machine (a sanitizer build, other tests) is slow
        [[ "$(focused_name)" == "$want" ]] && { sleep 0.2; return 0; }
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
