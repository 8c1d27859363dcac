#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# libvips opens every level of a pyramidal TIFF as velmora-scan writes it, at the sizes
# halving gives (sides rounded up), down to the first that fits in a tile; 77 (skipped)
# without vipsheader.
#   pyramid_vips.sh VELMORA_SCAN VELMORA_CLIPGEN
set -euo pipefail
scan=${1:?usage: pyramid_vips.sh VELMORA_SCAN VELMORA_CLIPGEN}
clipgen=${2:?usage: pyramid_vips.sh VELMORA_SCAN VELMORA_CLIPGEN}
command -v vipsheader >/dev/null || { echo "vipsheader is not installed" >&2; exit 77; }
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
exit $status
