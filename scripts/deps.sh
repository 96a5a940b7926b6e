#!/usr/bin/env bash
# Installs, from Debian's packages, whatever Tessaly needs to build, run and
# be tested that this machine does not have yet.  Run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-translations-l10n libgl-dev
  fonts-ipafont-gothic fonts-freefont-ttf
  libgtest-dev libgmock-dev libbenchmark-dev
)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(xvfb xauth xdotool x11-utils clang libclang-rt-14-dev dpkg-dev file desktop-file-utils groff-base
             mecab-ipadic)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
