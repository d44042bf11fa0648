#!/usr/bin/env bash
# The one benchmark command: builds release binaries in a folder of its own and runs every figure
# side by side with the peers (bench/sidebyside.py); no test or CI step calls it. Options: --quick,
# --rounds N, --out DIR, --skip codec,whole,footprint.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh
build="${SFXRUN_BENCH_BUILD:-$root/build/bench}"
mkdir -p "$build"

echo "[bench] building release binaries in $build" >&2
cmake -S . -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSFXRUN_WINDOWS_TESTS=OFF >"$build/configure.log"
targets=(sfxrun-stub sfxrun-pack bench_szdd bench_exit_at_once bench_mspack bench_lz32_copy)
cmake --build "$build/native" -j2 --target "${targets[@]}" >"$build/build.log"
# The Windows stubs are built only for their sizes in the footprint figure.
cmake -S . -B "$build/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >>"$build/configure.log"
cmake --build "$build/win32" -j2 --target sfxrun-stub >>"$build/build.log"
cmake -S . -B "$build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >>"$build/configure.log"
cmake --build "$build/win64" -j2 --target sfxrun-stub >>"$build/build.log"

exec /usr/bin/python3 bench/sidebyside.py --build "$build" "$@"
