#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's velmora-scan picture: a clip of a turning bar from the clip writer and
# its middle two columns, strip beside strip, one strip a frame.
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
