#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a streak image in velmora3 in a virtual X session, one strip per press: open an
# RGB test clip through the file dialog, play and pause, pick a band, press the build
# button, step one frame, press twice more; then check the composite on screen pixel for
# pixel, the clear, and that nothing ever reached the clipboard.
#   velmora3_composite.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora3 "Velmora by Oskedal" 357 "$@"

write_test_clip "$work/clip.avi"
printf 'kept by another program' | xclip -selection clipboard
start_program
open_clip "$work/clip.avi"

# The composite pane stands at 584, 40 of the client area, the x pick strip at 224, 288.
composite_pixel() { client_pixel $(( 584 + $1 )) $(( 40 + $2 )); }
press_build() { click $((40 + 64)) $((152 + 16)); }

click $((144 + 32)) $((40 + 16))  # Command1, play
sleep 0.5
click $((80 + 32)) $((40 + 16))   # Command2, pause: the clip stops and stays
click $((224 + 100)) $((288 + 10))  # the band: columns 100 .. 120
click $((224 + 120)) $((288 + 10))
press_build                        # strip 0 from the frame the clip stands on
click $((104 + 32)) $((120 + 16))  # Command3, one frame on
press_build                        # strip 1 from the next frame
press_build                        # strip 2: the clip has not moved

shot
# Strip k covers columns 20k .. 20k + 20 from source columns 100 .. 120.
for x in 0 5 20 25 40 45 60; do
  read -r r g b < <(composite_pixel "$x" 50 | tr ',' ' ')
  echo "composite column $x: $r,$g,$b"
  declare "r_$x=$r" "g_$x=$g" "b_$x=$b"
done
[ "$g_5" -eq 105 ] && [ "$b_5" -eq 50 ] || fail "strip 0 shows $r_5,$g_5,$b_5, not column 105, row 50"
[ "$g_0" -eq 100 ] || fail "the composite's first column shows source column $g_0"
[ "$g_25" -eq 105 ] && [ "$r_25" -eq $(( r_5 + 1 )) ] || fail "strip 1 is not the next frame's column 105"
[ "$g_20" -eq 100 ] && [ "$r_20" -eq "$r_25" ] || fail "strip 1 does not overwrite strip 0's last column"
[ "$g_45" -eq 105 ] && [ "$r_45" -eq "$r_25" ] || fail "strip 2 is not the same frame as strip 1"
[ "$g_60" -eq 120 ] && [ "$r_60" -eq "$r_25" ] || fail "strip 2's last column shows $r_60,$g_60,$b_60"
[ "$(composite_pixel 61 50)" = "255,255,255" ] || fail "the composite goes on past three strips"
# Every pixel: strips 0, 1 and 2 hold frames r_5, r_25 and r_25 (the clip stood still),
# source columns 100 .. 120 from column 20k on; past column 60 the pane is still white.
bad=$(composite_mismatches 584 40 "function expected(x, y,  k) {
  if (x > 60) return \"255,255,255\"
  k = int(x / 20); if (k > 2) k = 2
  return ((k == 0 ? $r_5 : $r_25) % 256) \",\" ((100 + x - 20 * k) % 256) \",\" (y % 256) }")
[ "$bad" -eq 0 ] || fail "$bad composite pixels differ from the bands of frames $r_5 and $r_25"
[ "$(xclip -selection clipboard -o)" = "kept by another program" ] || fail "a press changed the clipboard"

click $((40 + 64)) $((200 + 16))  # Command6: a white composite
shot
[ "$(composite_pixel 5 50)" = "255,255,255" ] || fail "the clear left the composite"
# The band is forgotten: a press now only shows the message.
press_build
message=$(xdotool search --onlyvisible --name '^velmora3$' 2>/dev/null | head -n 1 || true)
[ -n "$message" ] || fail "no message box titled velmora3 after a press without a band"
xdotool key --window "$message" Return 2>/dev/null || xdotool key Return
sleep 0.3

click $((40 + 64)) $((232 + 16))  # Cmd_End
expect_program_end "a click on the exit button"
[ "$(xclip -selection clipboard -o)" = "kept by another program" ] ||
  fail "the program changed the clipboard"
echo "PASS"
