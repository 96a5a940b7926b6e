#!/usr/bin/env bash
# Builds the Debian package from a built tree and inspects it the cheap way:
# control fields, file list, the desktop entry and the man page.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; exit 1; }
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
            ./usr/share/applications/tessaly.desktop \
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

desktop="$work/root/usr/share/applications/tessaly.desktop"
grep -qx 'Name=Tessaly' "$desktop" || fail "desktop entry: Name"
grep -qx 'Exec=tessaly' "$desktop" || fail "desktop entry: Exec"
grep -qx 'Icon=tessaly' "$desktop" || fail "desktop entry: Icon"
grep -q '^Comment\[ja\]=' "$desktop" || fail "desktop entry: Japanese comment"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
file "$work/root/usr/share/icons/hicolor/32x32/apps/tessaly.png" | grep -q 'PNG image data, 32 x 32' ||
  fail "the 32x32 icon is not a 32 x 32 PNG"

man=$(gzip -dc "$work/root/usr/share/man/man1/tessaly-cli.1.gz")
grep -q '^\.TH TESSALY-CLI 1' <<<"$man" || fail "man page header"
grep -q '@VERSION@' <<<"$man" && fail "man page version not filled in"
if command -v groff >/dev/null; then
  warnings=$(groff -Tutf8 -man -ww -z <<<"$man" 2>&1)
  [[ -z "$warnings" ]] || fail "man page warnings: $warnings"
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
