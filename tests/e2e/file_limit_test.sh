#!/usr/bin/env bash
# The real program under a file-size limit (ulimit -f), driven by the keyboard
# in a private X server: Save As of a text larger than the limit shows the
# file error report, the program lives on, and the file it would have
# replaced keeps every byte, whether it is replaced by a new file or (a file
# with a second hard link) rewritten in place. The first target cannot be
# read by the user, and Save As still asks before overwriting it. Run by
# root, the program runs as "nobody", for whom that file is truly unreadable.
# The report's text is read through the accessibility bus (AT-SPI).
#
#   tests/e2e/file_limit_test.sh path/to/tessaly
set -euo pipefail

program=$(readlink -f "$1")
python=/usr/bin/python3
[[ -x $python ]] || python=python3
if ! "$python" -c "import gi; gi.require_version('Atspi', '2.0')" 2>/dev/null || ! command -v dbus-daemon >/dev/null; then
    echo "SKIP: no AT-SPI client (scripts/deps.sh --test installs gir1.2-atspi-2.0, python3-gi, dbus)"
    exit 77
fi
source "$(dirname "$0")/x_session.sh"
start_x_server

cp "$program" "$work/tessaly"
mkdir -p "$work/data" "$work/home"
# 40 KB of text: past a limit of 10 KiB.
for i in $(seq 1 1000); do printf 'line %04d of a text too large to save\r\n' "$i"; done > "$work/data/big.txt"
printf 'old text\r\n' > "$work/data/old.txt"
printf 'linked text\r\n' > "$work/data/linked.txt"
ln "$work/data/linked.txt" "$work/data/link2.txt"
as_user=(env)
if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$work"
    chmod 755 "$work"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
chmod 0200 "$work/data/old.txt"
cp -p "$work/data/old.txt" "$work/old.before"
cp -p "$work/data/linked.txt" "$work/linked.before"
export HOME="$work/home"

# A session bus of the program's user, with the accessibility bus started.
exec 4< <("${as_user[@]}" dbus-daemon --session --nofork --print-address=1 2>/dev/null & echo "pid $!")
read -r _ bus_pid <&4
read -r DBUS_SESSION_BUS_ADDRESS <&4 || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS
trap 'kill "$bus_pid" 2>/dev/null || true; cleanup' EXIT
"${as_user[@]}" dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
wait_x_ready "${as_user[@]}"

(cd "$work" && ulimit -f 10 && QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 exec "${as_user[@]}" ./tessaly >"$work/app.log" 2>&1) &
app_pid=$!
wait_focus "Tessaly"

# The text of the program's message box titled "Tessaly", or nothing when
# none comes up within $1 tenths of a second.
report_text() {
    "${as_user[@]}" "$python" - "$1" <<'PY' 2>/dev/null || true
import sys
import time
import gi
gi.require_version('Atspi', '2.0')
from gi.repository import Atspi

for _ in range(int(sys.argv[1])):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        for j in range(app.get_child_count() if app else 0):
            box = app.get_child_at_index(j)
            if box.get_role_name() == 'alert' and box.get_name() == 'Tessaly':
                texts = [box.get_child_at_index(k).get_name() for k in range(box.get_child_count())
                         if box.get_child_at_index(k).get_role_name() == 'label']
                print(''.join(texts))
                raise SystemExit
    time.sleep(0.1)
PY
}

alive() { kill -0 "$app_pid" 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/app.log")"; }

keys alt+f o
wait_focus "開く"
xdotool type --delay 10 "$work/data/big.txt"; sleep 0.2
keys Return
wait_focus "Tessaly"

# Save As over name, answering the overwrite question with Yes; then the
# report must come up in a box of its own, which is read through the
# clipboard (Ctrl+C copies a message box's text) and closed.
save_over() {
    local name=$1
    keys alt+f a
    wait_focus "名前を付けて保存"
    keys ctrl+a
    xdotool type --delay 10 "$work/data/$name"; sleep 0.2
    keys Return
    wait_focus "File Save"
    keys y
    local report
    report=$(report_text 300)
    alive
    [[ "$report" == "ファイルが大きすぎます。 File Name = $work/data/$name" ]] || fail "the report reads: '$report'"
    keys Return
    wait_focus "Tessaly"
    [[ -z "$(report_text 3)" ]] || fail "the report did not close"
    alive
}

save_over old.txt
cmp -s "$work/old.before" "$work/data/old.txt" || fail "old.txt changed: $(od -c "$work/data/old.txt" | head -n 3)"
[[ "$(ls -A "$work/data" | sort | tr '\n' ' ')" == "big.txt link2.txt linked.txt old.txt " ]] || fail "left behind: $(ls -A "$work/data")"
echo "ok - a save past the file-size limit is reported, the replaced file kept whole"

save_over linked.txt
cmp -s "$work/linked.before" "$work/data/linked.txt" || fail "linked.txt changed: $(od -c "$work/data/linked.txt" | head -n 3)"
[[ "$(stat -c %i "$work/data/linked.txt")" == "$(stat -c %i "$work/data/link2.txt")" ]] || fail "the hard link was broken"
echo "ok - the same for a file rewritten in place (a second hard link)"

# Still at work: the exit writes the history, which lists only the file
# that was opened (the failed saves added nothing).
exit_and_check_history "$work/data/big.txt"
echo "ok - the program went on working and ended normally"
echo "file limit: 3 passed, 0 failed"
