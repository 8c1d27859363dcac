#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's picture of a tilted slit: one clip of a turning bar through a straight
# slit (the middle column) and through a line from the top a quarter in to the bottom three
# quarters in, both from one pass of velmora-scan, put side by side with FFmpeg.
#   scripts/scan_line_sample.sh BUILD_DIR [OUT_DIR, default docs/]
set -euo pipefail
build=${1:?usage: scripts/scan_line_sample.sh BUILD_DIR [OUT_DIR]}
out=${2:-$(dirname "$0")/../docs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/velmora-clipgen" "$work/rotor.avi" --codec mjpeg --size 640x480 --frames 360 \
  --fps 30 --pattern rotor
"$build/velmora-scan" --quiet --slit 50% --line 25%,0,75%,100% "$work/rotor.avi" "$work/s%d.png"
mkdir -p "$out"
# The line's 576 samples make the taller image; the straight slit's 480 rows stand at its top.
ffmpeg -nostdin -v error -y -i "$work/s1.png" -i "$work/s2.png" -filter_complex \
  "[0]pad=iw+16:576:0:0:white[a];[a][1]hstack" "$out/velmora-scan-line.png"
echo "wrote $out/velmora-scan-line.png ($(stat -c %s "$out/velmora-scan-line.png") bytes)"
