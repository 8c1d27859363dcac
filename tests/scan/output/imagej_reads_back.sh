#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ImageJ itself makes 16-bit time-lapse stacks and saves line selections of them; velmora-scan
# cuts kymographs along those selections; ImageJ opens the kymographs and reads back their
# calibration and channels, and its own line profile of one time point must be that row of
# the kymograph. 77 (skipped) without ImageJ, Java or Xvfb, unless CI=true.
#   imagej_reads_back.sh VELMORA_SCAN
set -euo pipefail
scan=${1:?usage: imagej_reads_back.sh VELMORA_SCAN}
ij_jar=/usr/share/java/ij.jar
if ! command -v java >/dev/null || [ ! -f "$ij_jar" ] || ! command -v Xvfb >/dev/null; then
  echo "ImageJ (Debian's imagej), Java or Xvfb is not installed" >&2
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
# ImageJ 1.x builds its menus even in batch mode, and saving a selection needs them: AWT
# refuses that headless, so ImageJ runs on a virtual screen of its own.
source "$(dirname "$0")/../../x11/lib/session.sh"
work=$(mktemp -d)
x_server_pid=
program_pid=
trap x_session_cleanup EXIT
x_server_start

# A home of its own: no one's saved ImageJ preferences (such as profiles not interpolated).
# A macro that fails waits on its error dialog: the timeout ends it.
imagej() {
  timeout 30 java -Duser.home="$work" -cp "$ij_jar" ij.ImageJ -batch "$@" 2>>"$work/imagej.log" ||
    fail "ImageJ ended with status $? on $1: $(cat "$work/imagej.log")"
}

# Values in 20000..20255 that follow no plane (the product term), so a place half a pixel
# off or an interpolation other than bilinear shows; calibrated 0.25 micron, 0.5 s.
# Time point 3's profiles are printed: "profile NAME value...".
# The straight line is 20 pixels long (12 across, 16 down), its places between four pixels.
# The segmented line's segments are 10 (6, 8) and 12 pixels long.
cat >"$work/make.ijm" <<'EOF'
dir = getArgument();
function fill(title, channels) {
  newImage(title, "16-bit black", 24, 20, channels, 1, 5);
  for (t = 1; t <= 5; t++) for (c = 1; c <= channels; c++) {
    Stack.setPosition(c, 1, t);
    for (y = 0; y < 20; y++) for (x = 0; x < 24; x++)
      setPixel(x, y, 20000 + (x*37 + y*91 + t*53 + c*97 + x*y*7) % 256);
  }
  setVoxelSize(0.25, 0.25, 1, "micron");
  Stack.setFrameInterval(0.5);
  saveAs("Tiff", dir + "/" + title + ".tif");
}
function profile(name) {
  p = getProfile();
  s = "profile " + name;
  for (i = 0; i < p.length; i++) s = s + " " + d2s(p[i], 4);
  print(s);
}
fill("two", 2);
makeLine(2, 3, 14, 19);
Stack.setPosition(2, 1, 3);
profile("channel2");
fill("one", 1);
makeLine(2, 3, 14, 19);
saveAs("Selection", dir + "/straight.roi");
Stack.setFrame(3);
profile("straight");
makeLine(2, 3, 8, 11, 20, 11);
saveAs("Selection", dir + "/segmented.roi");
profile("segmented");
EOF
imagej "$work/make.ijm" "$work" >"$work/said.txt"

# NAME STACK ARGS...: each run's kymograph is NAME.tif.
while read -r name stack args; do
  # shellcheck disable=SC2086  # ARGS are words
  "$scan" -q $args "$work/$stack" "$work/$name.tif" 2>>"$work/scan.log" ||
    echo "velmora-scan failed for $name: $(tail -n 1 "$work/scan.log")" >&2
done <<EOF
own        one.tif --roi $work/straight.roi
asked      one.tif --roi $work/straight.roi --pixel-size 0.108um --frame-interval 2s
across     one.tif --roi $work/straight.roi --time-axis right
segmented  one.tif --roi $work/segmented.roi
channels   two.tif --roi $work/straight.roi --channel 1,2
EOF

# "NAME calibration UNIT PW PH YUNIT FINTERVAL CHANNELS COMPOSITE" and, for each channel,
# "NAME row C value..." of the kymograph's row 3 (time point 3: time runs down).
cat >"$work/read.ijm" <<'EOF'
dir = getArgument();
names = newArray("own", "asked", "across", "segmented", "channels");
for (i = 0; i < names.length; i++) {
  if (!File.exists(dir + "/" + names[i] + ".tif")) continue;
  open(dir + "/" + names[i] + ".tif");
  getPixelSize(unit, pw, ph);
  Stack.getUnits(xunit, yunit, zunit, timeunit, valueunit);
  Stack.getDimensions(w, h, channels, slices, frames);
  print(names[i] + " calibration " + unit + " " + pw + " " + ph + " " + yunit + " " +
        Stack.getFrameInterval() + " " + channels + " " + is("composite"));
  for (c = 1; c <= channels; c++) {
    Stack.setChannel(c);
    s = names[i] + " row " + c;
    for (x = 0; x < w; x++) s = s + " " + getPixel(x, 2);
    print(s);
  }
  close();
}
EOF
imagej "$work/read.ijm" "$work" >>"$work/said.txt"

# What ImageJ said on the line that starts with these words, without them.
said() {
  awk -v key="$* " 'index($0, key) == 1 { print substr($0, length(key) + 1); exit }' "$work/said.txt"
}

# ImageJ's profile against a kymograph row, whose values are whole. A straight line's profile
# takes round(L) + 1 places evenly from end to end; velmora-scan takes floor(L) + 1 places
# one pixel apart from the first point: the same places where the length L is whole. A
# segmented line's profile walks the path in 1/100-pixel steps, taking a place at each
# 1 pixel (straight) from the last; with segments of whole lengths that is every whole
# pixel of path, the end point never reached, which velmora-scan's row holds as one
# value more (EXTRA). velmora-scan rounds places to 1/1024 pixel (at most 1/2048 off on
# each axis; neighbours here differ by at most 255: under 0.25) and then rounds the value
# half up: a row value is within 0.75 of the profile's.
agree() {
  local profile=$1 row=$2 extra=$3
  awk -v p="$profile" -v r="$row" -v extra="$extra" 'BEGIN {
    n = split(p, want, " "); m = split(r, got, " ")
    if (n == 0 || m != n + extra) { printf "%d values against %d", m, n; exit }
    for (i = 1; i <= n; i++) {
      d = got[i] - want[i]
      if (d > 0.75 || d < -0.75) { printf "place %d: %s against %s", i - 1, got[i], want[i]; exit }
    }
    print "agree"
  }'
}

status=0
check() {
  [ "$2" = "$3" ] || { echo "FAIL: $1: ImageJ reads '$2', not '$3'" >&2; status=1; }
}
# case                          what ImageJ reads                               what was asked
check "the stack's calibration" "$(said own calibration)"                      "microns 0.25 0.5 sec 0.5 1 0"
check "--pixel-size, --frame-interval" "$(said asked calibration)"             "microns 0.108 2 sec 2 1 0"
check "time across"             "$(said across calibration)"                   "sec 0.5 0.25 micron 0.5 1 0"
check "two channels"            "$(said channels calibration)"                 "microns 0.25 0.5 sec 0.5 2 1"
check "straight line"           "$(agree "$(said profile straight)" "$(said own row 1)" 0)"          agree
check "segmented line"          "$(agree "$(said profile segmented)" "$(said segmented row 1)" 1)"   agree
check "channel 2's row"         "$(agree "$(said profile channel2)" "$(said channels row 2)" 0)"     agree
if [ $status -ne 0 ]; then
  cat "$work/scan.log" "$work/imagej.log" >&2 2>/dev/null || true
fi
exit $status
