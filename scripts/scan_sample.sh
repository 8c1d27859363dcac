#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's velmora-scan pictures from one clip of a turning bar from the clip
# writer: its middle two columns, strip beside strip, one strip a frame; and, from one pass,
# the middle column beside a tilted line (from the top a quarter in to the bottom three
# quarters in), put side by side with FFmpeg.
#   scripts/scan_sample.sh BUILD_DIR [OUT_DIR, default docs/]
set -euo pipefail
build=${1:?usage: scripts/scan_sample.sh BUILD_DIR [OUT_DIR]}
out=${2:-$(dirname "$0")/../docs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/velmora-clipgen" "$work/rotor.avi" --codec mjpeg --size 640x480 --frames 360 \
  --fps 30 --pattern rotor
mkdir -p "$out"
"$build/velmora-scan" --force --quiet --slit 50%:2 "$work/rotor.avi" "$out/velmora-scan-rotor.png"
echo "wrote $out/velmora-scan-rotor.png ($(stat -c %s "$out/velmora-scan-rotor.png") bytes)"
"$build/velmora-scan" --quiet --slit 50% --line 25%,0,75%,100% "$work/rotor.avi" "$work/s%d.png"
# The line's 576 samples make the taller image; the straight slit's 480 rows stand at its top.
ffmpeg -nostdin -v error -y -i "$work/s1.png" -i "$work/s2.png" -filter_complex \
  "[0]pad=iw+16:576:0:0:white[a];[a][1]hstack" "$out/velmora-scan-line.png"
echo "wrote $out/velmora-scan-line.png ($(stat -c %s "$out/velmora-scan-line.png") bytes)"
