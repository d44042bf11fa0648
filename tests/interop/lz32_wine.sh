#!/usr/bin/env bash
# Our SZDD streams expand byte-exact through Windows' LZ32 (Wine's), by LZOpenFileA and LZCopy in
# a small mingw program; all streams go through one run of it, since each start of wine64 costs
# seconds. Usage: lz32_wine.sh SZDD_TOOL
set -euo pipefail
tool="$1"
exe="${SFXRUN_WIN64_DIR:?}/bin/lz32_expand.exe"
wine64="${WINE64:-/usr/lib/wine/wine64}"
if [[ ! -f "$exe" ]]; then
  echo "missing $exe: build the win64 configuration first" >&2
  exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$tool" corpus "$work"

# Wine reaches the Unix file system through drive Z:.
windows_path() { local p="Z:$1"; echo "${p//\//\\}"; }

failures=0
names=()
pairs=()
for original in "$work"/*.bin; do
  name="$(basename "$original" .bin)"
  "$tool" encode "$original" "$work/$name.sz_"
  # LZ32 passes a file without the header through as it is, which would hide a broken encoder.
  if [[ "$(head -c 4 "$work/$name.sz_")" != "SZDD" ]]; then
    echo "FAIL $name: our output lacks the SZDD header" >&2
    failures=$((failures + 1))
    continue
  fi
  names+=("$name")
  pairs+=("$(windows_path "$work/$name.sz_")" "$(windows_path "$work/$name.out")")
done
if [[ ${#names[@]} -eq 0 ]]; then
  echo "FAIL: no streams to expand" >&2
  exit 1
fi

mapfile -t results < <("$wine64" "$exe" "${pairs[@]}" | tr -d '\r' || true)
# A program that dies part way prints fewer lines; every stream without its line fails below.
for index in "${!names[@]}"; do
  name="${names[$index]}"
  result="${results[$index]:-}"
  size="$(stat -c %s "$work/$name.bin")"
  if [[ "$result" != "$size" ]]; then
    echo "FAIL $name: LZCopy returned '$result', expected $size" >&2
    failures=$((failures + 1))
  elif ! cmp -s "$work/$name.bin" "$work/$name.out"; then
    echo "FAIL $name: LZ32's output differs from the input" >&2
    failures=$((failures + 1))
  else
    echo "ok   $name ($size bytes)"
  fi
done
if [[ ${#results[@]} -gt ${#names[@]} ]]; then
  echo "FAIL: lz32_expand printed ${#results[@]} results for ${#names[@]} streams" >&2
  failures=$((failures + 1))
fi
exit $((failures != 0))
