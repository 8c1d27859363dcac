#!/usr/bin/env bash
# Makes the README's velmora-scan picture: a pendulum clip from the clip writer and one
# row across the bottom of its swing, strip under strip, 1 pixel a frame.
#   scripts/scan_sample.sh BUILD_DIR [OUT_DIR, default docs/]
set -euo pipefail
build=${1:?usage: scripts/scan_sample.sh BUILD_DIR [OUT_DIR]}
out=${2:-$(dirname "$0")/../docs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/velmora-clipgen" "$work/pendulum.avi" --codec mjpeg --size 640x480 --frames 240 \
  --fps 30 --pattern pendulum
mkdir -p "$out"
"$build/velmora-scan" --force --quiet --cut horizontal --slit 340 "$work/pendulum.avi" \
  "$out/velmora-scan-pendulum.png"
echo "wrote $out/velmora-scan-pendulum.png ($(stat -c %s "$out/velmora-scan-pendulum.png") bytes)"
