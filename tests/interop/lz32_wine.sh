#!/usr/bin/env bash
# Our SZDD streams expand byte-exact through Windows' LZ32 (Wine's), by LZOpenFileA and LZCopy in
# a small mingw program. Usage: lz32_wine.sh SZDD_TOOL
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
for original in "$work"/*.bin; do
  name="$(basename "$original" .bin)"
  "$tool" encode "$original" "$work/$name.sz_"
  # LZ32 passes a file without the header through as it is, which would hide a broken encoder.
  if [[ "$(head -c 4 "$work/$name.sz_")" != "SZDD" ]]; then
    echo "FAIL $name: our output lacks the SZDD header" >&2
    failures=$((failures + 1))
    continue
  fi
  result="$("$wine64" "$exe" "$(windows_path "$work/$name.sz_")" "$(windows_path "$work/$name.out")" | tr -d '\r')" || true
  size="$(stat -c %s "$original")"
  if [[ "$result" != "$size" ]]; then
    echo "FAIL $name: LZCopy returned '$result', expected $size" >&2
    failures=$((failures + 1))
  elif ! cmp -s "$original" "$work/$name.out"; then
    echo "FAIL $name: LZ32's output differs from the input" >&2
    failures=$((failures + 1))
  else
    echo "ok   $name ($size bytes)"
  fi
done
exit $((failures != 0))
