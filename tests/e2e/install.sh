#!/usr/bin/env bash
# The install tests' body: installs a build tree (layout) or builds and unpacks its Debian package
# (deb), then checks the files and that the installed sfxrun-pack makes containers from the installed
# stubs. Never touches the system: everything lands in a temporary folder.
set -euo pipefail
mode=$1 build=$2 source=$3 example=$4 win32_dir=$5 win64_dir=$6 want_windows=$7
cmake_bin=${CMAKE:-cmake}
cpack_bin=${CPACK:-cpack}

tmp=$(mktemp -d /tmp/sfxrun-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

stubs=(sfxrun-stub)
declare -A built=([sfxrun-stub]="$build/bin/sfxrun-stub")
if [ "$want_windows" = 1 ]; then
  stubs+=(sfxrun-stub.exe sfxrun-stub64.exe)
  built[sfxrun-stub.exe]="$win32_dir/bin/sfxrun-stub.exe"
  built[sfxrun-stub64.exe]="$win64_dir/bin/sfxrun-stub64.exe"
fi

# The files every install must hold, and that the stubs are the builds' own bytes (the native one
# may differ only by the stripping that a package does, so it is compared by running it instead).
check_files() {
  local prefix=$1
  for f in bin/sfxrun-pack share/man/man1/sfxrun-pack.1.gz "${stubs[@]/#/lib/sfxrun/}"; do
    if [ -f "$prefix/$f" ]; then pass "$f installed"; else fail "$f missing under $prefix"; fi
  done
  for f in bin/sfxrun-pack lib/sfxrun/sfxrun-stub; do
    [ -x "$prefix/$f" ] || fail "$f is not executable"
  done
  local s
  for s in "${stubs[@]}"; do
    [ "$s" = sfxrun-stub ] && continue
    if cmp -s "${built[$s]}" "$prefix/lib/sfxrun/$s"; then pass "$s is the build's"; else fail "$s differs from ${built[$s]}"; fi
  done
}

# The man page is a valid gzip of a roff page that documents every option --help lists.
check_man() {
  local prefix=$1 page=$1/share/man/man1/sfxrun-pack.1.gz
  gzip -t "$page" || { fail "man page is not a valid gzip"; return; }
  local roff
  roff=$(gzip -dc "$page")
  grep -q '^\.TH SFXRUN-PACK 1 ' <<<"$roff" || fail "man page has no .TH SFXRUN-PACK 1 header"
  local option missing=""
  for option in $("$prefix/bin/sfxrun-pack" --help | grep -oE -- '--[a-z0-9][a-z0-9-]*' | sort -u); do
    grep -qF -- "$(sed 's/-/\\-/g' <<<"$option")" <<<"$roff" || missing+=" $option"
  done
  [ -z "$missing" ] && pass "man page covers every option of --help" || fail "man page lacks:$missing"
  if command -v man >/dev/null; then
    local text
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null) || fail "man cannot render the page"
    grep -q 'sfxrun-pack - make, list, verify and extract' <<<"$text" && pass "man renders the page" ||
      fail "man renders no NAME line"
  fi
}

# The installed sfxrun-pack packs the example with the installed Linux stub (it knows no other
# place for it), and the container runs: the program sees its files, and the work folder is gone.
check_linux_container() {
  local prefix=$1 label=$2
  local out=$tmp/run-$label before=$failures
  mkdir -p "$out/tmp"
  if ! "$prefix/bin/sfxrun-pack" -q -o "$out/hello" "$source/examples/data.csv" "$source/examples/readme.txt" \
       "$example" 2>"$out/pack.err"; then
    fail "$label: installed sfxrun-pack cannot pack: $(cat "$out/pack.err")"
    return
  fi
  cmp -s -n "$(stat -c %s "$prefix/lib/sfxrun/sfxrun-stub")" "$prefix/lib/sfxrun/sfxrun-stub" "$out/hello" ||
    fail "$label: the container does not begin with the installed stub"
  local status=0
  (cd "$out" && TMPDIR="$out/tmp" ./hello >"$out/run.txt" 2>&1) || status=$?
  [ "$status" -eq 0 ] || fail "$label: the container ended with $status: $(cat "$out/run.txt")"
  grep -q 'data.csv  *60 bytes' "$out/run.txt" && grep -q 'readme.txt  *1866 bytes' "$out/run.txt" ||
    fail "$label: the program did not see its files: $(cat "$out/run.txt")"
  [ -z "$(ls -A "$out/tmp")" ] || fail "$label: left in the temporary folder: $(ls -A "$out/tmp")"
  [ "$failures" -eq "$before" ] && pass "$label: installed sfxrun-pack made a container that runs"
}

# The Windows stubs come from the installed folder even though the build folders, compiled into
# sfxrun-pack as a last resort, hold the same files: a marker written into the installed copy's DOS
# message must turn up at the start of the container.
check_windows_choice() {
  local prefix=$1 s option stub offset out
  for s in "${stubs[@]}"; do
    [ "$s" = sfxrun-stub ] && continue
    option=--windows
    [ "$s" = sfxrun-stub64.exe ] && option=--windows64
    stub=$prefix/lib/sfxrun/$s
    offset=$(grep -obUa 'DOS mode' "$stub" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || { fail "$s has no DOS message to mark"; continue; }
    printf 'SFX' | dd of="$stub" bs=1 seek="$offset" conv=notrunc status=none
    out=$tmp/choice$option.exe
    if "$prefix/bin/sfxrun-pack" -q "$option" -o "$out" "$source/examples/data.csv" "$example" 2>"$tmp/choice.err" &&
       cmp -s -n "$(stat -c %s "$stub")" "$stub" "$out"; then
      pass "$option takes the installed $s"
    else
      fail "$option did not take $stub: $(cat "$tmp/choice.err")"
    fi
    cp "${built[$s]}" "$stub"
  done
}

case "$mode" in
  layout)
    "$cmake_bin" --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1 ||
      { cat "$tmp/install.log" >&2; fail "cmake --install failed"; exit 1; }
    check_files "$tmp/prefix"
    check_man "$tmp/prefix"
    check_linux_container "$tmp/prefix" prefix
    check_windows_choice "$tmp/prefix"
    # The stubs are found relative to sfxrun-pack, so a moved installation still works.
    mv "$tmp/prefix" "$tmp/moved"
    check_linux_container "$tmp/moved" moved
    ;;
  deb)
    "$cpack_bin" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 ||
      { cat "$tmp/cpack.log" >&2; fail "cpack failed"; exit 1; }
    deb=$(ls "$tmp"/pkg/*.deb)
    [ "$(basename "$deb")" = "sfxrun_$("$build/bin/sfxrun-pack" --version | cut -d' ' -f2)_amd64.deb" ] ||
      fail "package file is named $(basename "$deb")"
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = sfxrun ] || fail "Package is '$(field Package)'"
    [ "$(field Architecture)" = amd64 ] || fail "Architecture is '$(field Architecture)'"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    [ -n "$(field Description)" ] || fail "no Description"
    dpkg-deb -x "$deb" "$tmp/root"
    prefix=$tmp/root/usr
    check_files "$prefix"
    # Depends names libc6 alone, at least at the newest symbol version any packaged program needs.
    depends=$(field Depends)
    need=$(for f in "$prefix/bin/sfxrun-pack" "$prefix/lib/sfxrun/sfxrun-stub"; do
             readelf -W --dyn-syms "$f" | grep -oE 'GLIBC_[0-9.]+' ; done | sed 's/GLIBC_//' | sort -V | tail -n 1)
    if [[ "$depends" =~ ^libc6\ \(\>=\ ([0-9.]+)\)$ ]] &&
       [ "$(printf '%s\n' "$need" "${BASH_REMATCH[1]}" | sort -V | tail -n 1)" = "${BASH_REMATCH[1]}" ]; then
      pass "Depends: $depends covers GLIBC_$need"
    else
      fail "Depends is '$depends'; the programs need libc6 >= $need and nothing else"
    fi
    for f in "$prefix/bin/sfxrun-pack" "$prefix/lib/sfxrun/sfxrun-stub"; do
      libs=$(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v -x -e libc.so.6 -e ld-linux-x86-64.so.2 || true)
      [ -z "$libs" ] || fail "$(basename "$f") needs $libs besides libc"
    done
    check_man "$prefix"
    check_linux_container "$prefix" package
    ;;
  *)
    echo "usage: install.sh layout|deb BUILD SOURCE EXAMPLE WIN32_DIR WIN64_DIR WANT_WINDOWS" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
