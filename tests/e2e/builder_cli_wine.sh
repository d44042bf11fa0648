#!/usr/bin/env bash
# A container made by sfxrun-pack --windows64 and signed afterwards runs under wine64: the probe,
# its last member, sees the other members beside it; run by ctest inside the shared wine prefix.
# Usage: builder_cli_wine.sh PACK WORKDIR   (environment: WINE64, WINEPREFIX, SFXRUN_WIN64_DIR)
set -eu
PACK=$(realpath "$1") WORK=$2
bin="$SFXRUN_WIN64_DIR/bin"
rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK"
printf 'This is a test file. This is a test file. This is a test file.\n' > Readme.txt
cp "$bin/e2e-probe.exe" probe.exe
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj /CN=sfxrun-test \
  2>/dev/null
"$PACK" -q --stub "$bin/sfxrun-stub64.exe" -o plain.exe Readme.txt probe.exe
osslsigncode sign -certs cert.pem -key key.pem -in plain.exe -out signed.exe >/dev/null
report="Z:$(realpath .)/report.txt"
status=0
SFXRUN_PROBE_REPORT="${report//\//\\}" "$WINE64" signed.exe || status=$?
wineserver -w 2>/dev/null || true
[ "$status" = 0 ] || { echo "FAIL: the signed container exited with $status"; exit 1; }
grep -qP '^file\tReadme\.txt\t63\t' report.txt || { echo "FAIL: the probe did not see Readme.txt"; cat report.txt; exit 1; }
echo "signed container ran; the probe saw its members"
