#!/usr/bin/env bash
# Builds the Debian package from a built tree and inspects it the cheap way:
# control fields, file list, the desktop entry and the man page; then runs
# the packaged program from /usr/bin (in a mount namespace of its own) to see
# that it keeps its history in the user's state folder.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A loose umask must not leak into the package's modes.
(umask 0002 && cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; exit 1; }
deb=$(ls "$work"/tessaly_*.deb 2>/dev/null | head -n 1)
[[ -n "$deb" ]] || { fail "no tessaly_*.deb was made"; exit 1; }
echo "package: $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == tessaly ]] || fail "Package is '$(field Package)'"
[[ "$(field Architecture)" == "$(dpkg --print-architecture)" ]] || fail "Architecture is '$(field Architecture)'"
[[ -n "$(field Version)" ]] || fail "no Version"
[[ "$(field Section)" == utils ]] || fail "Section is '$(field Section)'"
depends=$(field Depends)
echo "Depends: $depends"
for want in 'libqt6widgets6' 'libqt6gui6' 'libqt6core6' 'libc6' 'libstdc++6' 'qt6-qpa-plugins' \
            'qt6-translations-l10n' 'fonts-ipafont-gothic | fonts-noto-cjk'; do
  [[ "$depends" == *"$want"* ]] || fail "Depends lacks '$want'"
done

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for want in ./usr/bin/tessaly ./usr/bin/tessaly-cli \
            ./usr/share/applications/org.tessaly.Tessaly.desktop \
            ./usr/share/metainfo/org.tessaly.Tessaly.metainfo.xml \
            ./usr/share/doc/tessaly/copyright ./usr/share/doc/tessaly/changelog.gz \
            ./usr/share/man/man1/tessaly.1.gz \
            ./usr/share/icons/hicolor/32x32/apps/tessaly.png \
            ./usr/share/icons/hicolor/scalable/apps/tessaly.svg \
            ./usr/share/man/man1/tessaly-cli.1.gz; do
  grep -qxF "$want" <<<"$files" || fail "package lacks $want"
done
# Nothing of the build or test tree comes along.
if grep -E 'test|bench|fuzz|\.a$|/include/' <<<"$files"; then
  fail "package carries build or test files"
fi

dpkg-deb -x "$deb" "$work/root"
for exe in tessaly tessaly-cli; do
  file "$work/root/usr/bin/$exe" | grep -q 'ELF.*executable' || fail "$exe is not an executable"
done
version=$("$work/root/usr/bin/tessaly-cli" --version) || fail "tessaly-cli --version"
[[ "$version" == "tessaly-cli $(field Version)"* ]] || fail "version '$version' differs from the package's"

desktop="$work/root/usr/share/applications/org.tessaly.Tessaly.desktop"
grep -qx 'Name=Tessaly' "$desktop" || fail "desktop entry: Name"
grep -qx 'Exec=tessaly %f' "$desktop" || fail "desktop entry: Exec"
grep -qx 'MimeType=text/plain;' "$desktop" || fail "desktop entry: MimeType"
grep -qx 'Icon=tessaly' "$desktop" || fail "desktop entry: Icon"
grep -q '^Comment\[ja\]=' "$desktop" || fail "desktop entry: Japanese comment"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
file "$work/root/usr/share/icons/hicolor/32x32/apps/tessaly.png" | grep -q 'PNG image data, 32 x 32' ||
  fail "the 32x32 icon is not a 32 x 32 PNG"

for page in tessaly-cli tessaly; do
  man=$(gzip -dc "$work/root/usr/share/man/man1/$page.1.gz")
  grep -q "^\\.TH ${page^^} 1 .*\"Tessaly $(field Version)\"" <<<"$man" || fail "$page man page header"
  grep -q '@VERSION@' <<<"$man" && fail "$page man page version not filled in"
  if command -v groff >/dev/null; then
    warnings=$(groff -Tutf8 -man -ww -z <<<"$man" 2>&1)
    [[ -z "$warnings" ]] || fail "$page man page warnings: $warnings"
  fi
done
man=$(gzip -dc "$work/root/usr/share/man/man1/tessaly.1.gz")
for want in 'sys.!!!' 'XDG_STATE_HOME/tessaly' '.local/state/tessaly' 'FILE' 'tessaly\-cli (1)'; do
  grep -qF "$want" <<<"$man" || fail "tessaly man page lacks '$want'"
done

# What Debian's own tools say of the package: lintian without an error or a
# warning (its informational notes are shown), the AppStream metadata valid
# and tied to the desktop entry.
if command -v lintian >/dev/null; then
  lintian_out=$(lintian --info "$deb" 2>&1 | grep -v 'running with root privileges')
  [[ -n "$lintian_out" ]] && echo "$lintian_out"
  grep -E '^[EW]: ' <<<"$lintian_out" && fail "lintian reports errors or warnings"
else
  fail "lintian is not installed (scripts/deps.sh --test)"
fi
metainfo="$work/root/usr/share/metainfo/org.tessaly.Tessaly.metainfo.xml"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
  appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli validate-tree"
else
  fail "appstreamcli is not installed (scripts/deps.sh --test)"
fi
grep -q '<launchable type="desktop-id">org.tessaly.Tessaly.desktop</launchable>' "$metainfo" ||
  fail "metainfo: launchable is not the desktop entry"
grep -q "<release version=\"$(field Version)\"" "$metainfo" || fail "metainfo: no release $(field Version)"
for want in '<name xml:lang="ja">' '<summary xml:lang="ja">' '<content_rating type="oars-1.1"/>' \
            '<project_license>MIT</project_license>' '<metadata_license>CC0-1.0</metadata_license>'; do
  grep -qF "$want" "$metainfo" || fail "metainfo lacks $want"
done
shot=$(sed -n 's:.*<image>\(.*\)</image>.*:\1:p' "$metainfo")
[[ "$shot" == https://*/screenshot.png && -f "$source/docs/screenshot.png" ]] || fail "metainfo screenshot '$shot'"

# The copyright file is machine-readable and names the program's licence and
# that of every table compiled in.
copyright="$work/root/usr/share/doc/tessaly/copyright"
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright: not the machine-readable format"
for want in 'License: MIT' 'License: BSD-3-Clause' 'bestfit932.txt' 'index-jis0208.txt' 'index-jis0212.txt' \
            'Creative Commons Attribution 4.0'; do
  grep -qF "$want" "$copyright" || fail "copyright lacks '$want'"
done
words() { tr -s ' \n' '  '; }
[[ "$(awk -v RS= '/^License: MIT\n/' "$copyright" | sed '1d;/^ \.$/d;s/^ //' | words)" == \
   "$(sed -n '/^Permission/,$p' "$source/LICENSE" | sed '/^$/d' | words)" ]] || fail "copyright's MIT text differs from LICENSE"
changelog=$(gzip -dc "$work/root/usr/share/doc/tessaly/changelog.gz")
head -n 1 <<<"$changelog" | grep -q "^tessaly ($(field Version)) " || fail "changelog does not start at $(field Version)"
[[ "$(field Maintainer)" == 'Tessaly developers <tessaly@users.noreply.invalid>' ]] || fail "Maintainer '$(field Maintainer)'"

# The packaged program, run as /usr/bin/tessaly: the extracted /usr/bin is
# mounted over the system's in a namespace that only the program sees.
packaged_history() {
  local unshare=(unshare -m)
  ((EUID == 0)) || unshare=(unshare -rm)
  "${unshare[@]}" true 2>/dev/null || { echo "skip: no mount namespace here (the history check needs one)"; return 0; }
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "skip: Xvfb or xdotool missing"; return 0; }
  local xvfb_pid display app_pid
  exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp -noreset 2>/dev/null & echo "pid $!")
  read -r _ xvfb_pid <&3
  read -r display <&3 || true
  [[ -n "$display" ]] || { fail "Xvfb did not start"; return; }
  mkdir -p "$work/home"
  local before
  before=$(ls -A "$work/root/usr/bin")
  (cd "$work" && env -u XDG_STATE_HOME -u QT_QPA_PLATFORM DISPLAY=":$display" HOME="$work/home" LC_ALL=C \
     "${unshare[@]}" sh -c 'mount --bind "$1" /usr/bin && exec /usr/bin/tessaly' sh "$work/root/usr/bin" \
     >"$work/app.log" 2>&1) &
  app_pid=$!
  local answered=""
  for _ in $(seq 1 200); do
    local name
    name=$(DISPLAY=":$display" xdotool getwindowfocus getwindowname 2>/dev/null || true)
    if [[ "$name" == Tessaly && -z "$answered" ]]; then
      sleep 0.3; DISPLAY=":$display" xdotool key --delay 80 alt+f x; answered=exit
    elif [[ "$name" == "URL Decode" && "$answered" == exit ]]; then
      sleep 0.3; DISPLAY=":$display" xdotool key y; answered=yes
    fi
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$app_pid" 2>/dev/null
  kill "$xvfb_pid" 2>/dev/null
  [[ "$answered" == yes ]] || { fail "the packaged program did not come up and close ($(cat "$work/app.log"))"; return; }
  local history="$work/home/.local/state/tessaly/sys.!!!"
  [[ "$(od -An -tx1 -v "$history" 2>/dev/null | tr -d ' \n')" == "$(printf '22220d0a%.0s' 1 2 3 4 5)" ]] ||
    fail "the packaged program did not write its history to ~/.local/state/tessaly"
  [[ "$(ls -A "$work/root/usr/bin")" == "$before" ]] || fail "the packaged program wrote into /usr/bin"
}
packaged_history

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
