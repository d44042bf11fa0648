#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine; does nothing when all is there.
set -euo pipefail

need_pkgs=(cmake ninja-build g++ libgtest-dev googletest mingw-w64 wine64 libmspack-dev
           mscompress makeself osslsigncode icoutils clang libclang-rt-14-dev llvm locales
           imagemagick xxd unzip zip openssl file time strace python3-matplotlib)

missing=()
for p in "${need_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine needs the C library's ja_JP.UTF-8 locale for non-ASCII paths; build it once into a folder
# of our own so nothing system-wide is touched.
locdir="${SFXRUN_LOCPATH:-/usr/local/share/sfxrun-locale}"
if [ ! -d "$locdir/ja_JP.UTF-8" ]; then
  mkdir -p "$locdir"
  localedef -i ja_JP -f UTF-8 "$locdir/ja_JP.UTF-8" 2>/dev/null || true
fi
