#!/usr/bin/env bash
# A launcher whose own file name is Japanese shows that name, in code page 932, as its box's caption.
# Runs the x86_64 stub without payload under wine64 and reads the one MessageBoxA from the relay trace.
set -euo pipefail
stub="$1"
scratch="$2"
rm -rf "$scratch"
mkdir -p "$scratch/tmp"
name="起動.exe"
cp "$stub" "$scratch/$name"
set +e
(cd "$scratch" && LC_ALL=ja_JP.UTF-8 LOCPATH="${SFXRUN_LOCPATH}" WINEDEBUG=+relay "$WINE64" "./$name" 2>"$scratch/relay.txt")
status=$?
set -e
[ "$status" -eq 5 ] || { echo "exit status $status, expected 5"; exit 1; }

python3 - "$scratch" "$name" <<'PY'
import re, sys
scratch, name = sys.argv[1], sys.argv[2]
relay = open(scratch + "/relay.txt", "rb").read().decode("latin-1")
calls = re.findall(r'Call user32\.MessageBoxA\(\w+,\w+ "((?:[^"\\]|\\.)*)",\w+ "((?:[^"\\]|\\.)*)",(\w+)\)', relay)
if len(calls) != 1:
    sys.exit("expected one message box, saw %d" % len(calls))

def unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            n = text[i + 1]
            if n == "x":
                out.append(int(text[i + 2:i + 4], 16)); i += 4; continue
            out.append({"n": 10, "t": 9, "r": 13, "\\": 92, '"': 34}.get(n, ord(n))); i += 2; continue
        out.append(ord(c)); i += 1
    return bytes(out)

text, caption, style = calls[0]
expected = ("Z:" + (scratch + "/" + name).replace("/", "\\")).encode("cp932")
damaged = "ファイルが破壊されているため、ファイルを作業領域にコピーできませんでした。".encode("cp932")
problems = []
if unescape(caption) != expected: problems.append("caption %r, expected %r" % (unescape(caption), expected))
if unescape(text) != damaged: problems.append("text %r" % unescape(text))
if int(style, 16) != 0x30: problems.append("style %s" % style)
if problems: sys.exit("; ".join(problems))
print("caption in code page 932:", expected)
PY
