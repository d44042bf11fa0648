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

# The same tests once more with AddressSanitizer and UBSan (no wine: the Windows images are not
# sanitised, and the image layer inspects release images only).
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan "$@"

# The fuzz targets (clang, libFuzzer, ASan and UBSan), each for a bounded time over its seed corpus.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_container_locate fuzz_builder_reader fuzz_szdd_decode
ctest --preset fuzz -L fuzz "$@"
