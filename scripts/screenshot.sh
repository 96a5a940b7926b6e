#!/usr/bin/env bash
# Retakes docs/screenshot.png: the window under a private Xvfb with a Japanese
# text opened through the File menu, and beside it the same window after
# Convert > URL Encode with the ampersand option on.
#   bash scripts/screenshot.sh          # builds first if needed
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

need=()
for p in xvfb xdotool imagemagick fonts-ipafont-gothic fonts-freefont-ttf; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  sudo_cmd=(); [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
[[ -x build/ui/tessaly ]] || bash scripts/build.sh

work=$(mktemp -d)
xvfb_pid=""; app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb_pid <&3
read -r display <&3
export DISPLAY=":$display"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

cp build/ui/tessaly "$work/"
# A short query-string text, saved as Shift-JIS.
printf '%s\r\n' '検索=東京タワー' '名前=山田太郎' 'コメント=テストです' | iconv -f UTF-8 -t CP932 > "$work/sample.txt"

(cd "$work" && ./tessaly >/dev/null 2>&1) &
app_pid=$!
for _ in $(seq 1 100); do
  [[ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" == Tessaly ]] && break
  sleep 0.1
done
sleep 0.5
xdotool key --delay 100 alt+f o; sleep 0.8
xdotool type --delay 10 "$work/sample.txt"; xdotool key Return; sleep 0.8

window=$(xdotool search --name '^Tessaly$' | head -n 1)
eval "$(xdotool getwindowgeometry --shell "$window")"
shoot() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"; }
shoot "$work/before.png"
xdotool key --delay 100 alt+t c; sleep 0.5    # the ampersand option on
xdotool key --delay 100 alt+t e; sleep 0.8    # URL Encode
shoot "$work/after.png"
mkdir -p docs
convert "$work/before.png" "$work/after.png" -bordercolor '#808080' -border 1 +append "$root/docs/screenshot.png"
echo "wrote docs/screenshot.png (${WIDTH}x${HEIGHT})"
