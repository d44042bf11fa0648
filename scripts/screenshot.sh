#!/usr/bin/env bash
# Makes docs/images/damaged-box.png: the message box that the 64-bit Windows launcher shows under Wine
# when it carries no container, drawn on a virtual X screen in code page 932 with a Japanese font,
# and damaged-box-not-japanese.png, the same box in a locale whose code page has no Japanese.
# Run by hand after building the win64 preset; installs the X and font packages it needs itself.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
stub=${1:-$root/build/win64/bin/sfxrun-stub64.exe}
out=${2:-$root/docs/images/damaged-box.png}
wine64=${WINE64:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
locpath=${SFXRUN_LOCPATH:-/usr/local/share/sfxrun-locale}

[ -f "$stub" ] || { echo "screenshot: $stub is missing; build the win64 preset first" >&2; exit 1; }

need=(xvfb xdotool fonts-ipafont-gothic fonts-wine imagemagick xauth)
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
bash scripts/setup.sh

work=$(mktemp -d /tmp/sfxrun-shot.XXXXXX)
xvfb_pid=""
wine_pid=""
cleanup() {
  [ -n "$wine_pid" ] && kill "$wine_pid" 2>/dev/null || true
  WINEPREFIX="$work/prefix" "$wineserver" -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody holds, so a running X server is never touched.
display=""
for n in $(seq 91 120); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "screenshot: no free X display between :91 and :120" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# Wine picks the ANSI code page from the locale: ja_JP gives 932, so LoadStringA hands out Shift JIS.
# Set through env(1) for the children only: this shell has no such locale of its own.
ja=(env "LOCPATH=$locpath" LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"${ja[@]}" WINE64="$wine64" bash scripts/wine-prefix.sh "$WINEPREFIX"
# No window manager runs on the virtual screen: with unmanaged windows Wine draws the title bar and
# the frame itself, so the caption (the launcher's path) is in the picture.
"${ja[@]}" "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
"$wineserver" -w
# This Wine looks for its own fonts only in the prefix; the caption buttons are drawn with Marlett.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# The stub alone, without a container after it, from a short path: the box's caption is that path.
cp "$stub" "$WINEPREFIX/drive_c/sfxrun-stub64.exe"

# shoot OUT LC_ALL: runs the stub in that locale, takes the picture of its box, dismisses it.
shoot() {
  local shot=$1 locale=$2 window="" status
  (cd "$WINEPREFIX/drive_c" && exec env "LOCPATH=$locpath" "LC_ALL=$locale" "LANG=$locale" \
     "$wine64" 'C:\sfxrun-stub64.exe') &
  wine_pid=$!
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name 'sfxrun-stub64\.exe' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "screenshot: no message box appeared" >&2; exit 1; }
  sleep 1  # Wine draws the text and the icon after the window appears
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # Wine draws the frame itself, so the window's geometry holds the whole box; a few pixels of the
  # desktop around it keep the edge visible.
  local pad=6
  mkdir -p "$(dirname "$shot")"
  import -window root -crop "$((WIDTH + 2 * pad))x$((HEIGHT + 2 * pad))+$((X - pad))+$((Y - pad))" +repage \
    -strip "$shot"
  # Dismissing the box ends the launcher; its exit status tells the container was found damaged.
  xdotool key Return
  set +e
  wait "$wine_pid"
  status=$?
  set -e
  wine_pid=""
  "$wineserver" -w
  echo "screenshot: wrote $shot (${WIDTH}x${HEIGHT} box, $locale); the launcher ended with status $status"
  [ "$status" -eq 5 ] || { echo "screenshot: expected exit status 5" >&2; exit 1; }
}

shoot "$out" ja_JP.UTF-8
# The same box where the ANSI code page is not Japanese: the texts cannot be shown there.
shoot "${out%.png}-not-japanese.png" C.UTF-8
