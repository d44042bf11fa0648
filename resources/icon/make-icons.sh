#!/usr/bin/env bash
# Regenerates the stub's icon (stub.ico and its pieces) from box-arrow.mvg; run by hand, never by the build.
# Needs ImageMagick and a C compiler. The outputs are committed, so a build needs neither.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
convert="${CONVERT:-convert}"
cc="${CC:-cc}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# -strip and the excluded chunks keep the PNG free of time stamps, so a rerun gives the same bytes.
"$convert" -size 256x256 xc:none -draw "$(cat "$here/box-arrow.mvg")" -strip \
  -define png:exclude-chunks=date,time,tIME,bKGD PNG32:"$here/stub-256.png"

# Each bitmap: the mask from the reduced alpha, the colours quantised without dithering (crisp edges
# at 16 pixels) over the outline colour, so the transparent area costs no palette entry. One entry
# of each palette stays black for the transparent pixels, hence 15 and 255.
reduce() { # side bits
  local side=$1 bits=$2 colours=$(( (1 << $2) - 1 ))
  "$convert" "$here/stub-256.png" -filter Lanczos -resize "${side}x${side}" "$work/s$side-$bits.png"
  "$convert" "$work/s$side-$bits.png" -alpha extract -threshold 30% -depth 8 gray:"$work/m$side-$bits.gray"
  "$convert" "$work/s$side-$bits.png" -background '#2a1a08' -alpha remove -dither None -colors "$colours" \
    -depth 8 rgb:"$work/c$side-$bits.rgb"
  printf '%s\n' "$side" "$bits" "$work/m$side-$bits.gray" "$work/c$side-$bits.rgb"
}

"$cc" -O1 -Wall -Wextra -o "$work/pack-icon" "$here/pack-icon.c"
mapfile -t args < <(reduce 32 4; reduce 16 4; reduce 48 8; reduce 32 8)
"$work/pack-icon" "$here/stub.ico" "$here/stub-256.png" "${args[@]}"

# Enlarged previews of every image, to look at before committing; not used by the build.
if [ "${PREVIEW:-}" ]; then
  mkdir -p "$PREVIEW"
  "$convert" "$here/stub.ico" -background '#c0c0c0' -alpha remove -filter point -resize 256x256 "$PREVIEW/icon-%d.png"
fi
