#!/usr/bin/env bash
# Installs what is missing, builds Tessaly and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF
exec build/ui/tessaly
