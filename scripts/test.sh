#!/usr/bin/env bash
# Builds every configuration and runs every test layer through ctest (the wine tests included).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

for preset in win32 win64 native; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
ctest --preset native "$@"
