#!/usr/bin/env bash
# The main job on the built-in example: pack examples/ into a container, run it, and say what happened;
# first as a Linux container, then as a Windows one under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh

say() { printf '\n== %s\n' "$*"; }

# What the run left: the program's own report names its folder; the temporary folder must be empty.
tell_outcome() {
  local output="$1" status="$2" temp="$3"
  echo "the work folder was $(tr -d '\r' < "$output" | sed -n 's/^  files beside me in \(.*\):$/\1/p')"
  echo "exit status: $status"
  local left
  left=$(ls -A "$temp")
  if [ -z "$left" ]; then
    echo "the work folder is gone: nothing is left in $temp"
  else
    echo "left in $temp: $left"
  fi
}

say "building"
for preset in win64 native; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
bin=$root/build/native/bin
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/tmp"

say "packing examples/ into a Linux container"
"$bin/sfxrun-pack" -o "$demo/hello-linux" examples/data.csv examples/readme.txt "$bin/sfxrun-example"
"$bin/sfxrun-pack" list "$demo/hello-linux"

say "running it (TMPDIR=$demo/tmp)"
set +e
(cd "$demo" && TMPDIR="$demo/tmp" ./hello-linux) | tee "$demo/linux-output.txt"
status=${PIPESTATUS[0]}
set -e
tell_outcome "$demo/linux-output.txt" "$status" "$demo/tmp"

say "packing the same example for Windows (x86_64) and running it under wine64"
win64=$root/build/win64/bin
"$bin/sfxrun-pack" --windows64 -o "$demo/hello-windows.exe" examples/data.csv examples/readme.txt "$win64/sfxrun-example.exe"
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash scripts/wine-prefix.sh "$WINEPREFIX"
# Wine takes TEMP from its registry, so the work folder lands in the prefix's own temporary folder.
wintmp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
mkdir -p "$wintmp"
report="Z:$(echo "$demo/report.txt" | tr / '\\')"
set +e
(cd "$demo" && SFXRUN_EXAMPLE_REPORT="$report" /usr/lib/wine/wine64 ./hello-windows.exe)
status=$?
set -e
/usr/lib/wine/wineserver -w 2>/dev/null || true
touch "$demo/report.txt"
tr -d '\r' < "$demo/report.txt"
tell_outcome "$demo/report.txt" "$status" "$wintmp"
