#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's time-displaced pictures: the turning bar from the clip writer, each
# column shown 60 frames later than the one to its left has come (--delay ramp:60), and its
# first frame and a frame from the middle of the clip taken out with FFmpeg, side by side.
#   scripts/displace_sample.sh BUILD_DIR [OUT_DIR, default docs/]
set -euo pipefail
build=${1:?usage: scripts/displace_sample.sh BUILD_DIR [OUT_DIR]}
out=${2:-$(dirname "$0")/../docs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/velmora-clipgen" "$work/rotor.avi" --codec mjpeg --size 320x240 --frames 180 \
  --fps 30 --pattern rotor
mkdir -p "$out"
"$build/velmora-scan" --quiet --codec ffv1 --delay ramp:60 "$work/rotor.avi" "$work/bent.mkv"
# Frame 0 shows the first frame everywhere (no earlier frame exists); frame 90 the bend.
ffmpeg -nostdin -v error -y -i "$work/bent.mkv" -filter_complex \
  "[0]select='eq(n\,0)+eq(n\,90)',tile=2x1:padding=8:color=white" -frames:v 1 \
  "$out/velmora-scan-displaced.png"
echo "wrote $out/velmora-scan-displaced.png ($(stat -c %s "$out/velmora-scan-displaced.png") bytes)"
