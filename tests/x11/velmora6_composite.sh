#!/usr/bin/env bash
# Builds a streak image in velmora6 in a virtual X session: open an RGB test clip through
# the file dialog, play and pause, pick a band on the pick strip, press the build button,
# then check the composite on screen, the snapshot another program pastes from the
# clipboard, and the step back.
#   velmora6_composite.sh BUILD_DIR
set -euo pipefail

build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
program="$build_dir/velmora6"
clipgen="$build_dir/velmora-clipgen"
[ -x "$program" ] || { echo "no velmora6 in $build_dir" >&2; exit 1; }
[ -x "$clipgen" ] || { echo "no velmora-clipgen in $build_dir" >&2; exit 1; }

if [ -z "${VELMORA_IN_XVFB:-}" ]; then
  exec env VELMORA_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$build_dir"
fi

convert_tool=/usr/bin/convert
work=$(mktemp -d)
program_pid=
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill "$program_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Every pixel of the test clip: red the frame, green the column, blue the row.
"$clipgen" "$work/clip.avi" --codec rgb --size 320x240 --frames 120 --pattern test >/dev/null

QT_QPA_PLATFORM=xcb "$program" >"$work/out.txt" 2>&1 &
program_pid=$!
window_id=
for _ in $(seq 100); do
  window_id=$(xdotool search --onlyvisible --name '^Velmora $' 2>/dev/null | head -n 1 || true)
  [ -n "$window_id" ] && break
  kill -0 "$program_pid" 2>/dev/null || fail "velmora6 ended early: $(cat "$work/out.txt")"
  sleep 0.1
done
[ -n "$window_id" ] || fail "no window titled 'Velmora ' appeared"
sleep 0.5
menu_height=$(( $(xwininfo -id "$window_id" | awk -F: '/^ *Height/ {gsub(/ /, "", $2); print $2}') - 455 ))

# A click at a pixel of the client area (below the menu bar).
click() { xdotool mousemove --window "$window_id" "$1" $(( $2 + menu_height )) click 1; sleep 0.3; }
shot() { import -window "$window_id" "$work/shot.png"; }
# "r,g,b" of one pixel of an image file.
pixel_of() {
  "$convert_tool" "$1" -crop "1x1+$2+$3" +repage \
    -format '%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]\n' info:
}
# A pixel of the composite pane, which lies at 424, 40 of the client area.
composite_pixel() { pixel_of "$work/shot.png" $(( 424 + $1 )) $(( 40 + menu_height + $2 )); }

# Open the clip: Alt+F, O, then the path into the dialog.
xdotool windowfocus --sync "$window_id" 2>/dev/null || xdotool windowfocus "$window_id"
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key o
dialog=
for _ in $(seq 50); do
  dialog=$(xdotool search --onlyvisible --name 'Open|開く|ファイル' 2>/dev/null | grep -v "^$window_id\$" | head -n 1 || true)
  [ -n "$dialog" ] && break
  sleep 0.1
done
[ -n "$dialog" ] || fail "no file dialog appeared"
sleep 0.5
xdotool type --delay 20 "$work/clip.avi"
xdotool key Return
sleep 2

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

# Another program pastes the snapshot: the composite before its last strip.
xclip -selection clipboard -t TARGETS -o | grep -q 'image/png' || fail "no picture on the clipboard"
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
for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program_pid" 2>/dev/null && fail "velmora6 still runs after the exit button"
program_pid=
echo "PASS"
