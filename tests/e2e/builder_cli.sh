#!/usr/bin/env bash
# Black-box tests of sfxrun-pack: exit status, stdout and stderr over a table of cases.
# Usage: builder_cli.sh PACK STUB DAMAGE WORKDIR
set -u
PACK=$(realpath "$1") STUB=$(realpath "$2") DAMAGE=$(realpath "$3") WORK=$4
rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK" || exit 1
export LC_ALL=C.UTF-8
unset SOURCE_DATE_EPOCH
failures=0

# check NAME STATUS STDOUT STDERR -- COMMAND...: STDOUT and STDERR are extended regular expressions
# that must match somewhere, ANY for no check, EMPTY for no output at all.
check() {
  local name=$1 want=$2 out_re=$3 err_re=$4
  shift 5
  "$@" >out.txt 2>err.txt
  local got=$?
  local bad=""
  [ "$got" = "$want" ] || bad="exit status $got, wanted $want"
  for stream in out err; do
    local re=$out_re
    [ $stream = err ] && re=$err_re
    if [ "$re" = EMPTY ]; then
      [ -s $stream.txt ] && bad="$bad; std$stream not empty"
    elif [ "$re" != ANY ]; then
      grep -Eq -- "$re" $stream.txt || bad="$bad; std$stream does not match /$re/"
    fi
  done
  if [ -n "$bad" ]; then
    echo "FAIL $name: $bad"
    sed 's/^/  stdout: /' out.txt | head -20
    sed 's/^/  stderr: /' err.txt | head -20
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

# expect NAME CONDITION...: a plain shell test after a case.
expect() {
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

mkdir in
printf 'This is a test file. This is a test file. This is a test file. This is a test file.\n' > in/Readme.txt
: > in/empty.dat
head -c 3000 /dev/urandom > in/noise.bin
printf '#!/bin/sh\necho "probe ran from $(dirname "$0")"\nls "$(dirname "$0")"\n' > in/probe.sh
cp in/Readme.txt in/README.TXT 2>/dev/null
printf 'MZ stand-in for a Windows stub\n' > fake.exe
printf 'x\n' > 表示.txt
printf 'x\n' > ソフト.dll
printf 'x\n' > "in/bad:name"
export SOURCE_DATE_EPOCH=1700000000

# Usage and information.
check version            0 '^sfxrun-pack 4\.9\.0$' EMPTY -- "$PACK" --version
check help               0 'usage: sfxrun-pack.*-o OUT' EMPTY -- "$PACK" --help
check help-exit-statuses 0 '2 wrong usage' EMPTY -- "$PACK" -h
check no-arguments       2 EMPTY 'usage:' -- "$PACK"
check unknown-option     2 EMPTY "unknown option '--frobnicate'" -- "$PACK" --frobnicate -o x in/probe.sh
check no-output          2 EMPTY 'no output' -- "$PACK" in/probe.sh
check no-program         2 EMPTY 'no PROGRAM' -- "$PACK" -o x.bin
check output-needs-value 2 EMPTY '-o needs' -- "$PACK" in/probe.sh -o
check unknown-codepage   2 EMPTY "unknown code page '12345'" -- "$PACK" --codepage 12345 --windows -o x in/probe.sh
check codepage-posix     2 EMPTY 'Windows stubs only' -- "$PACK" --stub "$STUB" --codepage 932 -o x in/probe.sh
check both-windows       2 EMPTY 'exclude' -- "$PACK" --windows --windows64 -o x in/probe.sh
check list-operands      2 EMPTY 'one container' -- "$PACK" list
check extract-operands   2 EMPTY 'a container and a folder' -- "$PACK" extract a.bin
expect usage-writes-nothing test ! -e x -a ! -e x.bin

# Packing, and reading back what was packed.
check pack 0 '^out\.bin: 4 members \(1 compressed\), [0-9]+ bytes in, [0-9]+ bytes out, ratio [0-9.]+%' EMPTY -- \
  "$PACK" --stub "$STUB" -o out.bin in/Readme.txt in/empty.dat in/noise.bin in/probe.sh
expect pack-keeps-execute-bit test "$(stat -c %a out.bin)" = 755
check quiet 0 EMPTY EMPTY -- "$PACK" --quiet --stub "$STUB" -o quiet.bin in/Readme.txt in/empty.dat in/noise.bin in/probe.sh
expect deterministic cmp -s out.bin quiet.bin
check list 0 '^ *1  readme\.tx_ +Readme\.txt +[0-9]+ +84  2023-11-14T22:13:20Z  compressed$' EMPTY -- "$PACK" list out.bin
check list-stub-row 0 "^ *0  $(basename "$STUB") .* stub$" EMPTY -- "$PACK" list out.bin
check list-stored 0 '^ *2  empty\.dat +empty\.dat +0 +0  .* stored$' EMPTY -- "$PACK" list out.bin
check verify 0 'the launcher will run it: 4 members' EMPTY -- "$PACK" verify out.bin
check extract 0 EMPTY EMPTY -- "$PACK" extract out.bin ex
expect extract-bytes cmp -s ex/Readme.txt in/Readme.txt
expect extract-noise cmp -s ex/noise.bin in/noise.bin
expect extract-empty test -f ex/empty.dat -a ! -s ex/empty.dat
expect extract-stamp test "$(stat -c %Y ex/probe.sh)" = 1700000000
expect extract-no-stored-copies test ! -e ex/readme.tx_ -a "$(ls -A ex | wc -l)" = 4

touch -d '2001-02-03 04:05:06 UTC' in/probe.sh
SOURCE_DATE_EPOCH= check mtime-stamps 0 ANY EMPTY -- "$PACK" -q --stub "$STUB" -o mtime.bin in/probe.sh
check mtime-listed 0 '2001-02-03T04:05:06Z  stored$' EMPTY -- "$PACK" list mtime.bin
check store-option 0 '0 compressed' EMPTY -- "$PACK" --store --stub "$STUB" -o store.bin in/Readme.txt in/probe.sh
check store-listed 0 '^ *1  Readme\.txt +Readme\.txt .* stored$' EMPTY -- "$PACK" list store.bin

# Progress: only on a terminal, and never with --quiet. script(1) gives the program a terminal;
# --store keeps the large member quick.
if command -v script >/dev/null; then
  head -c 9000000 /dev/zero > in/large.bin
  check progress-on-terminal 0 'packing 1/2 large\.bin' ANY -- \
    script -qec "'$PACK' --store --stub '$STUB' -o progress.bin in/large.bin in/probe.sh" /dev/null
  check progress-quiet 0 EMPTY ANY -- script -qec "'$PACK' -q --store --stub '$STUB' -o progress.bin in/large.bin in/probe.sh" /dev/null
  check progress-not-on-pipe 0 ANY EMPTY -- "$PACK" --store --stub "$STUB" -o progress.bin in/large.bin in/probe.sh
  rm -f in/large.bin progress.bin
fi

# Refusals: a message, a failure status, and no output file.
check missing-file 1 EMPTY "cannot read 'in/nothing'" -- "$PACK" --stub "$STUB" -o r1.bin in/nothing in/probe.sh
check folder-member 1 EMPTY 'not a regular file' -- "$PACK" --stub "$STUB" -o r2.bin in in/probe.sh
check case-collision 1 EMPTY 'letter case is ignored' -- \
  "$PACK" --stub "$STUB" -o r3.bin in/Readme.txt in/README.TXT in/probe.sh
check not-plain-name 1 EMPTY "'bad:name' is not a plain file name" -- "$PACK" --stub "$STUB" -o r4.bin "in/bad:name"
SOURCE_DATE_EPOCH=4000000000 check stamp-too-late 1 EMPTY '2038-01-19' -- "$PACK" --stub "$STUB" -o r5.bin in/probe.sh
SOURCE_DATE_EPOCH=soon check bad-epoch 1 EMPTY 'SOURCE_DATE_EPOCH' -- "$PACK" --stub "$STUB" -o r6.bin in/probe.sh
mkdir many && for i in $(seq 1 256); do : > many/m$i; done
check too-many-members 1 EMPTY 'at most 255' -- "$PACK" --stub "$STUB" -o r7.bin many/*
check stub-is-container 1 EMPTY 'already carries' -- "$PACK" --stub out.bin -o r8.bin in/probe.sh
check missing-stub 1 EMPTY "cannot read 'no-stub'" -- "$PACK" --stub no-stub -o r9.bin in/probe.sh
check output-folder-missing 1 EMPTY 'cannot create' -- "$PACK" --stub "$STUB" -o nowhere/r10.bin in/probe.sh
expect refusals-write-nothing test -z "$(ls -A | grep -E '^r[0-9]+\.bin|sfxrun-pack\.')"
expect nothing-left-in-folder test -z "$(ls -A nowhere 2>/dev/null)"

# Names for Windows stubs: code pages.
check windows-needs-codepage 1 EMPTY "'表示\.txt' is not ASCII.*--codepage" -- "$PACK" --stub fake.exe -o w0.exe 表示.txt
check windows-device-name 1 EMPTY 'device name' -- "$PACK" --stub fake.exe -o w1.exe in/empty.dat "$(printf 'CON' > CON; echo CON)"
check windows-cp932 0 ANY EMPTY -- "$PACK" --stub fake.exe --codepage 932 -o w932.exe 表示.txt ソフト.dll in/probe.sh
check windows-not-in-cp1252 1 EMPTY 'cannot be written in code page 1252' -- \
  "$PACK" --stub fake.exe --codepage 1252 -o w1252.exe 表示.txt in/probe.sh
check list-cp932 0 '^ *1  表示\.txt +表示\.txt ' EMPTY -- "$PACK" list --codepage 932 w932.exe
check list-raw-bytes 0 '\\x95\\\\\\x8E\\xA6\.txt' EMPTY -- "$PACK" list w932.exe
check verify-cp932 0 'will run' EMPTY -- "$PACK" verify --codepage 932 w932.exe
check verify-bytewise 1 EMPTY 'entry 1: its stored name is not a plain file name' -- "$PACK" verify w932.exe
check extract-cp932 0 EMPTY EMPTY -- "$PACK" extract --codepage=932 w932.exe jx
expect extract-cp932-names test -f jx/表示.txt -a -f jx/ソフト.dll -a -f jx/probe.sh

# Damaged containers.
dmg() { cp out.bin "$1" && "$DAMAGE" "$@"; }
dmg d1.bin cut 100
check trailer-cut 1 EMPTY 'too near the end' -- "$PACK" verify d1.bin
check list-trailer-cut 1 EMPTY 'too near the end' -- "$PACK" list d1.bin
dmg d2.bin count 257
check count-too-large 1 EMPTY 'above 256' -- "$PACK" verify d2.bin
dmg d3.bin length 1 -3
check stream-cut 1 EMPTY "entry 1: its SZDD stream does not decode" -- "$PACK" verify d3.bin
check extract-stream-cut 1 EMPTY "entry 1: its SZDD stream does not decode" -- "$PACK" extract d3.bin dx3
expect extract-skips-damaged test ! -e dx3/Readme.txt -a -f dx3/probe.sh
dmg d4.bin offset 3 -5
check data-outside 1 EMPTY 'entry 3: its data does not lie inside the file' -- "$PACK" verify d4.bin
dmg d5.bin fill 32487
check fill-beyond-bound 1 EMPTY 'no container trailer within the last 32750 bytes' -- "$PACK" verify d5.bin
dmg d6.bin fill 32486
check fill-within-bound 0 'will run' EMPTY -- "$PACK" verify d6.bin
dmg d7.bin count 1
check only-stub 1 EMPTY 'directory would begin|no program' -- "$PACK" verify d7.bin
printf 'not a container' > d8.bin
check not-a-container 1 EMPTY 'no container trailer' -- "$PACK" verify d8.bin
check verify-missing 1 EMPTY "cannot read 'd9.bin'" -- "$PACK" verify d9.bin
dmg d10.bin name 4 '../escaped'
mkdir -p dx10
check extract-traversal 1 EMPTY 'entry 4: its stored name is not a plain file name' -- "$PACK" extract d10.bin dx10
expect traversal-stays-inside test ! -e escaped -a ! -e dx10/../escaped
mkdir dx11 && echo keep > outside.txt && ln -s ../outside.txt dx11/Readme.txt
check extract-over-link 0 EMPTY EMPTY -- "$PACK" extract out.bin dx11
expect link-target-untouched test "$(cat outside.txt)" = keep -a ! -L dx11/Readme.txt

# The real POSIX stub runs what sfxrun-pack made.
if [ "$(head -c 4 "$STUB" | od -An -c | tr -d ' ')" = '177ELF' ]; then
  mkdir -p tmp
  chmod +x out.bin
  TMPDIR=$PWD/tmp check container-runs 0 'probe ran from .*/tmp/probe' ANY -- ./out.bin
  expect work-folder-removed test -z "$(ls -A tmp)"
  # UTF-8 names end to end: the work folder is named after the program, every member beside it.
  cp in/probe.sh 起動
  check pack-utf8 0 ANY EMPTY -- "$PACK" -q --stub "$STUB" -o utf8.bin 表示.txt ソフト.dll 起動
  TMPDIR=$PWD/tmp check utf8-runs 0 'probe ran from .*/tmp/起動$' ANY -- ./utf8.bin
  cp out.txt seen.txt
  expect utf8-members-seen grep -qx 'ソフト.dll' seen.txt
  expect utf8-members-seen-too grep -qx '表示.txt' seen.txt
  expect utf8-folder-removed test -z "$(ls -A tmp)"
fi

echo "$failures failure(s)"
[ "$failures" = 0 ]
