#!/usr/bin/env bash
# A container made by sfxrun-pack --windows64 and signed afterwards runs under wine64: the probe,
# its last member, sees the other members beside it; and so do names in code page 932. Run by
# ctest inside the shared wine prefix.
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

# Names in code page 932, whose second bytes may be 0x5C ('\'), on a Japanese Wine: the work
# folder is named after the program, every member arrives under its name, all are removed after.
mkdir jp && cd jp
printf 'hyouji\n' > 表示.txt
printf 'soft\n' > ソフト.dll
cp "$bin/e2e-probe.exe" 起動.exe
"$PACK" -q --windows64 --codepage 932 -o jp.exe 表示.txt ソフト.dll 起動.exe
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
status=0
SFXRUN_PROBE_REPORT="Z:$(realpath .)/report.txt" LC_ALL=ja_JP.UTF-8 LOCPATH="${SFXRUN_LOCPATH:-/usr/local/share/sfxrun-locale}" \
  "$WINE64" jp.exe 2>/dev/null || status=$?
wineserver -w 2>/dev/null || true
[ "$status" = 0 ] || { echo "FAIL: the code page 932 container exited with $status"; exit 1; }
iconv -f CP932 -t UTF-8 report.txt > report-utf8.txt
for want in 'path	C:\\users\\.*\\Temp\\起動\\起動\.exe$' '^file	表示\.txt	7	' '^file	ソフト\.dll	5	' '^file	起動\.exe	'; do
  grep -Eq "$want" report-utf8.txt || { echo "FAIL: report lacks /$want/"; cat report-utf8.txt; exit 1; }
done
[ -d "$temp" ] && [ ! -e "$temp/起動" ] || { echo "FAIL: the work folder 起動 was left behind"; exit 1; }
echo "code page 932 names arrived whole and were removed"
