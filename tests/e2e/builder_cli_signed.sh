#!/usr/bin/env bash
# A container for 64-bit Windows, signed afterwards with osslsigncode and a certificate made here,
# still lists, extracts and verifies like the unsigned one.
# Usage: builder_cli_signed.sh PACK WORKDIR   (environment: SFXRUN_WIN64_DIR, SFXRUN_WINDOWS_TESTS)
set -eu
PACK=$(realpath "$1") WORK=$2
stub="${SFXRUN_WIN64_DIR:-}/bin/sfxrun-stub64.exe"
if [ ! -f "$stub" ]; then
  if [ "${SFXRUN_WINDOWS_TESTS:-ON}" = OFF ]; then
    echo "skipped: $stub is not built and the Windows tests are off"
    exit 77
  fi
  echo "FAIL: $stub is not built" >&2
  exit 1
fi
rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK"
export SOURCE_DATE_EPOCH=1700000000
printf 'This is a test file. This is a test file. This is a test file.\n' > Readme.txt
head -c 5000 /dev/urandom > data.bin
printf 'MZ probe stand-in\n' > probe.exe

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj /CN=sfxrun-test \
  2>/dev/null
# The default --windows64 search must find the cross build on its own.
"$PACK" -q --windows64 -o plain.exe Readme.txt data.bin probe.exe
osslsigncode sign -certs cert.pem -key key.pem -n sfxrun-test -in plain.exe -out signed.exe >/dev/null
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s plain.exe)" ] || { echo "FAIL: signing added nothing"; exit 1; }

"$PACK" list plain.exe | sed 1d > plain.txt
"$PACK" list signed.exe | sed 1d > signed.txt
# Row 0 shows the stub's entry, which signing does not touch; every row must stay the same.
diff plain.txt signed.txt || { echo "FAIL: list differs after signing"; exit 1; }
grep -Eq '^ *3  probe\.exe +probe\.exe ' signed.txt || { echo "FAIL: program row missing"; exit 1; }
"$PACK" verify signed.exe | grep -q 'will run' || { echo "FAIL: verify refused the signed container"; exit 1; }
"$PACK" extract signed.exe out
cmp Readme.txt out/Readme.txt && cmp data.bin out/data.bin && cmp probe.exe out/probe.exe
echo "signed container lists, verifies and extracts"
