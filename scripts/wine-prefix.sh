#!/usr/bin/env bash
# Makes a fresh wine prefix for one test run, with the relay trace limited to MessageBoxA so tests
# can read every message box's text, caption and style.
set -euo pipefail
prefix="$1"
rm -rf "$prefix"
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64="${WINE64:-/usr/lib/wine/wine64}"
"$wine64" wineboot -i >/dev/null 2>&1 || true
"$wine64" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d 'user32.MessageBoxA' /f >/dev/null 2>&1
wineserver -w 2>/dev/null || /usr/lib/wine/wineserver -w 2>/dev/null || true
test -f "$prefix/system.reg"
