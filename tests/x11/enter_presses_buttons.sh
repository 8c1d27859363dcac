#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Both window programs in a virtual X session: Return and keypad Enter press the push
# button that has the keyboard focus, as Space does. With 「コマ送り」 focused (Tab from
# 「一時停止」) each key steps the paused clip one frame on.
#   enter_presses_buttons.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"

write_test_clip "$work/clip.avi"

# The frame the video pane at client LEFT, 40 shows: the test clip's red.
shown_frame() { shot; client_pixel $(( $1 + 50 )) 90 | cut -d, -f1; }

#   check_program VIDEO_LEFT PLAY_X PLAY_Y PAUSE_X PAUSE_Y
check_program() {
  local video=$1 frame next key
  start_program
  open_clip "$work/clip.avi"
  click "$2" "$3"  # Command1, play
  sleep 0.5
  click "$4" "$5"  # Command2, pause; it keeps the focus
  sleep 0.5
  xdotool key Tab  # on to Command3, 「コマ送り」
  sleep 0.3
  frame=$(shown_frame "$video")
  for key in Return KP_Enter; do
    xdotool key "$key"
    sleep 0.8
    next=$(shown_frame "$video")
    [ "$next" -eq $(( frame + 1 )) ] ||
      fail "$program_name: $key on 「コマ送り」 went from frame $frame to $next, not one on"
    frame=$next
  done
  echo "$program_name: Return and KP_Enter each stepped the clip one frame"
  menu_key x
  expect_program_end "the menu's exit"
}

check_program 40 584 312 520 312

x_session_program velmora3 "Velmora by Oskedal" 357
check_program 224 176 56 112 56
echo "PASS"
