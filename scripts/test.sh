#!/usr/bin/env bash
# Installs what is missing, builds Tessaly with its tests and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
bash scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
