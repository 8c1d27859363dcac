#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# libvips opens every level of a pyramidal TIFF as velmora-scan writes it, at the sizes
# halving gives (sides rounded up), down to the first that fits in a tile; and a Deep Zoom
# OUTPUT holds the tiles, named and sized, that libvips' dzsave makes of the same image
# (254 with an overlap of 1), at sides around a tile's edge. 77 (skipped) without libvips.
#   zoom_in_vips.sh VELMORA_SCAN VELMORA_CLIPGEN
set -euo pipefail
scan=${1:?usage: zoom_in_vips.sh VELMORA_SCAN VELMORA_CLIPGEN}
clipgen=${2:?usage: zoom_in_vips.sh VELMORA_SCAN VELMORA_CLIPGEN}
command -v vips >/dev/null && command -v vipsheader >/dev/null || { echo "vipsheader is not installed" >&2; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$clipgen" "$work/clip.avi" --codec mjpeg --size 160x120 --frames 700 >/dev/null
status=0
# 700 x 120 columns and 120 x 700 rows: 350, 175 and the last under 256.
for cut in vertical horizontal; do
  "$scan" -q --pyramid --cut "$cut" "$work/clip.avi" "$work/$cut.tif"
  got=$(for level in "" "[subifd=0]" "[subifd=1]"; do
    vipsheader "$work/$cut.tif$level" | sed 's/.*: \([0-9]*x[0-9]*\) .*/\1/'
  done | tr '\n' ' ')
  want="700x120 350x60 175x30 "
  [ "$cut" = horizontal ] && want="160x700 80x350 40x175 "
  [ "$got" = "$want" ] || { echo "FAIL: $cut: levels $got, not $want" >&2; status=1; }
  if vipsheader "$work/$cut.tif[subifd=2]" >/dev/null 2>&1; then
    echo "FAIL: $cut: a level below the one that fits in a tile" >&2
    status=1
  fi
done

# Every tile's name and size, one a line.
tiles() {
  (cd "$1" && find . -name '*_*.*' | sort | while read -r f; do
    echo "${f%.*} $(vipsheader "$f" | sed 's/.*: \([0-9]*x[0-9]*\) .*/\1/')"
  done)
}
for case in "253 vertical" "254 vertical" "255 vertical" "508 vertical" "508 horizontal"; do
  read -r frames cut <<<"$case"
  "$clipgen" "$work/$frames.avi" --codec mjpeg --size 32x24 --frames "$frames" >/dev/null
  name=$work/$frames-$cut
  "$scan" -q --cut "$cut" --tile-format png "$work/$frames.avi" "$name.dzi"
  "$scan" -q --cut "$cut" "$work/$frames.avi" "$name.tif"
  vips dzsave "$name.tif" "$name-vips" --tile-size 254 --overlap 1 --suffix .png
  grep -q 'TileSize="254"' "$name.dzi" && grep -q 'Overlap="1"' "$name.dzi" ||
    { echo "FAIL: $case: the descriptor" >&2; status=1; }
  if [ "$(tiles "${name}_files")" != "$(tiles "$name-vips_files")" ]; then
    echo "FAIL: $case: the tiles differ from dzsave's:" >&2
    diff <(tiles "${name}_files") <(tiles "$name-vips_files") | head -n 5 >&2 || true
    status=1
  fi
done
exit $status
