#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# velmora6 under the hand and the keyboard in a virtual X session: a thumb held still while
# the clip plays lets it play on, a drag seeks; Space after a build neither ends the
# program nor loses the clipboard, and after the build button's message Space presses the
# build button again.
#   velmora6_hand_and_keys.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"

# The video pane, 320 x 240 at 40, 40 of the client area.
video_shot() { shot; crop "320x240+40+$(( 40 + menu_height ))" "$1"; }
same_pictures() { [ "$("$compare_tool" -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1 || true)" = "0" ]; }

message_box() { xdotool search --onlyvisible --name '^velmora6$' 2>/dev/null | head -n 1 || true; }
wait_for_message_box() {
  local box=
  for _ in $(seq 50); do
    box=$(message_box)
    [ -n "$box" ] && return 0
    sleep 0.1
  done
  fail "$1"
}

# 24 s of a moving pattern: long enough to play through the test.
"$clipgen" "$work/long.avi" --codec mjpeg --size 320x240 --frames 600 --fps 25 --pattern ball >/dev/null
start_program
open_clip "$work/long.avi"
click 584 312  # play
sleep 0.3

echo "== a thumb held still"
# HScroll1 spans 456 .. 585 at row 336; the thumb of a 600-frame clip in its first seconds
# lies just right of the left arrow.
xdotool mousemove --window "$window_id" 479 $(( 344 + menu_height )) mousedown 1
sleep 0.5  # several ticks move the thumb under the held button
video_shot held1
sleep 1
video_shot held2
xdotool mouseup 1
same_pictures held1 held2 && fail "the clip stopped while the thumb was held"

echo "== a drag of the thumb"
xdotool mousemove --window "$window_id" 490 $(( 344 + menu_height )) mousedown 1
xdotool mousemove --window "$window_id" 530 $(( 344 + menu_height ))
sleep 0.3
xdotool mouseup 1
sleep 0.3
video_shot sought1
sleep 0.8
video_shot sought2
same_pictures sought1 sought2 || fail "the clip plays on after a drag: it must stand on the frame sought"
same_pictures held2 sought1 && fail "the drag showed no other frame"

echo "== Space after a build"
click 140 290  # the band: columns 100 .. 180
click 220 290
click 696 336  # CmdGosei: four strips, the run ends with the button off
for _ in $(seq 40); do
  sleep 0.25
  shot
  [ "$(client_pixel $(( 424 + 319 )) 90)" != "255,255,255" ] && break
done
grep -q 'image/png' <<<"$(xclip -selection clipboard -t TARGETS -o)" || fail "no snapshot after the build"
xdotool key space
sleep 1
kill -0 "$program_pid" 2>/dev/null || fail "Space after the build ended the program"
grep -q 'image/png' <<<"$(xclip -selection clipboard -t TARGETS -o)" || fail "Space after the build emptied the clipboard"

echo "== Space after the build button's message"
click 696 376  # Command6: the band is gone, the build button on
click 696 336  # CmdGosei: no band, the message
wait_for_message_box "no message without a band"
xdotool key Return
for _ in $(seq 30); do [ -z "$(message_box)" ] && break; sleep 0.1; done
[ -z "$(message_box)" ] || fail "the message box stays after Return"
sleep 0.3
xdotool key space  # the build button has the focus again
wait_for_message_box "Space after the message did not press the build button"
xdotool key Return
sleep 0.3
kill -0 "$program_pid" 2>/dev/null || fail "the program ended"

menu_key x
expect_program_end "the menu's exit"
echo "PASS"
