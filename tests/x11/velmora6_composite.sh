#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a streak image in velmora6 in a virtual X session: open an RGB test clip through
# the file dialog, play and pause, pick a band on the pick strip, press the build button,
# then check the composite on screen, the snapshot another program pastes from the
# clipboard, and the step back.
#   velmora6_composite.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"

write_test_clip "$work/clip.avi"
start_program
# A pixel of the composite pane, which lies at 424, 40 of the client area.
composite_pixel() { client_pixel $(( 424 + $1 )) $(( 40 + $2 )); }
open_clip "$work/clip.avi"

click 584 312  # Command1, play
sleep 0.5
click 520 312  # Command2, pause: the clip stops and stays
# The band: columns 100 and 180 of the pick strip under the video (at 40, 280).
click 140 290
click 220 290
click 696 336  # CmdGosei: four strips, one frame and about 300 ms apart
# The run is over when the last strip reaches the pane's right edge; a busy machine is slow.
for _ in $(seq 40); do
  sleep 0.5
  shot
  [ "$(composite_pixel 319 50)" != "255,255,255" ] && break
done
sleep 0.5
shot
# Strip k covers columns 80k .. 80k + 80 from source columns 100 .. 180.
read -r r0 g0 b0 < <(composite_pixel 5 50 | tr ',' ' ')
read -r r1 g1 b1 < <(composite_pixel 85 50 | tr ',' ' ')
read -r r3 g3 b3 < <(composite_pixel 319 50 | tr ',' ' ')
echo "composite: strip 0 $r0,$g0,$b0; strip 1 $r1,$g1,$b1; strip 3 $r3,$g3,$b3"
[ "$g0" -eq 105 ] && [ "$b0" -eq 50 ] || fail "strip 0 shows $r0,$g0,$b0, not column 105, row 50"
[ "$g1" -eq 105 ] && [ "$b1" -eq 50 ] || fail "strip 1 shows $r1,$g1,$b1, not column 105, row 50"
[ "$r1" -eq $(( r0 + 1 )) ] || fail "strip 1 is frame $r1, not the frame after $r0"
[ "$g3" -eq 179 ] && [ "$r3" -eq $(( r0 + 3 )) ] || fail "the last strip shows $r3,$g3,$b3"

# Every pixel against the clip's pattern (red the frame, green the column, blue the row):
# strip k is frame r0 + k, source columns 100 .. 180 from column 80k on, and its last
# column lies under the next strip's first.
bad=$(composite_mismatches 424 40 "function expected(x, y,  k) {
  k = int(x / 80); if (k > 3) k = 3
  return (($r0 + k) % 256) \",\" ((100 + x - 80 * k) % 256) \",\" (y % 256) }")
[ "$bad" -eq 0 ] || fail "$bad composite pixels differ from the bands of frames $r0 .. $(( r0 + 3 ))"

# Another program pastes the snapshot: the composite before its last strip.
grep -q 'image/png' <<<"$(xclip -selection clipboard -t TARGETS -o)" || fail "no picture on the clipboard"
xclip -selection clipboard -t image/png -o >"$work/pasted.png"
size=$("$convert_tool" "$work/pasted.png" -format '%wx%h' info:)
[ "$size" = "320x240" ] || fail "the pasted picture is $size"
[ "$(pixel_of "$work/pasted.png" 85 50)" = "$r1,$g1,$b1" ] || fail "the pasted picture lacks strip 1"
[ "$(pixel_of "$work/pasted.png" 300 50)" = "255,255,255" ] || fail "the pasted picture holds the last strip"

click 720 16  # Cmd_back: the snapshot comes back
shot
[ "$(composite_pixel 300 50)" = "255,255,255" ] || fail "the step back left the last strip"
[ "$(composite_pixel 85 50)" = "$r1,$g1,$b1" ] || fail "the step back lost strip 1"

click 696 376  # Command6: a white composite
shot
[ "$(composite_pixel 85 50)" = "255,255,255" ] || fail "the clear left the composite"

click 690 416  # Cmd_End
expect_program_end "a click on the exit button"
echo "PASS"
