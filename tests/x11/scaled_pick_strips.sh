#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Both window programs on a scaled screen (QT_SCALE_FACTOR 2 and 1.5) in a virtual X
# session: a press on any device pixel of a pick strip picks the column (or row) that pixel
# shows. The mark a press draws is the bound it picked, so it must cover the pixel pressed:
# six pixels side by side are pressed on each strip, at 1.5 among them the ones two
# columns share.
#   scaled_pick_strips.sh BUILD_DIR
set -euo pipefail
x_screen=2048x1536x24  # room for velmora6's window at twice its size
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"

# Everything below is in the window's device pixels: logical pixels times the scale.
device() { awk -v v="$1" -v s="$scale" 'BEGIN { print int(v * s) }'; }

# A press at device pixel X, Y of the window (menu bar included).
press_at() { xdotool mousemove --window "$window_id" "$1" "$2" click 1; }

# Presses each of six device pixels along a strip, each followed by a press far enough
# along for a band (so no message comes), and checks that both marks cover their pixels.
#   check_strip NAME AXIS(x|y) FIRST ACROSS FAR
check_strip() {
  local name=$1 axis=$2 first=$3 across=$4 far=$5 d at colour points
  # The screenshot's colour at each of the lines "x y" of $1: "colour x y" a line.
  # shellcheck disable=SC2086
  seen_at() { paste -d' ' <(pixels_of "$work/shot.png" $1) <(echo "$1"); }
  # x y of each place along the strip, in the order given
  places() { for at in "$@"; do [ "$axis" = x ] && echo "$at $across" || echo "$across $at"; done; }
  shot
  points=$(places $(seq "$first" $(( first + 5 ))))
  while read -r colour px py; do
    [ "$colour" = "$strip_colour" ] ||
      fail "$name at scale $scale: device pixel $px,$py is not on the strip"
  done < <(seen_at "$points")
  # Both presses of a band first, then one screenshot: both marks stay until the next band.
  for d in $(seq "$first" $(( first + 5 ))); do
    points=$(places "$d" $(( d + far )))
    while read -r px py; do press_at "$px" "$py"; done <<<"$points"
    sleep 0.3
    shot
    while read -r colour px py; do
      [ "$colour" = "$marked_colour" ] ||
        fail "$name at scale $scale: a press on device pixel $px,$py marked another $([ "$axis" = x ] && echo column || echo row)"
    done < <(seen_at "$points")
  done
  echo "$name at scale $scale: device pixels $first .. $(( first + 5 )) pick what they show"
}

# One program at one scale. Places are the client area's logical pixels:
#   check_program X4 Y4 W4 X5 Y5 W5 OPTION2_X OPTION2_Y
check_program() {
  local x4=$1 y4=$2 h4=$3 x5=$4 y5=$5 w5=$6 option2_x=$7 option2_y=$8 menu
  program_env=(QT_SCALE_FACTOR="$scale")
  start_program
  # The menu bar's logical height: the window's height unscaled, less the client area.
  menu=$(awk -v h="$(geometry '^ *Height')" -v s="$scale" -v c="$client_height" \
    'BEGIN { printf "%d", h / s - c + 0.5 }')
  # Columns 100 .. 103 of the x pick strip, across its middle; the far press 100 columns on.
  check_strip Picture4 x "$(device $(( x4 + 100 )))" "$(device $(( menu + y4 + h4 / 2 )))" \
    "$(device 100)"
  press_at "$(device "$option2_x")" "$(device $(( menu + option2_y )))"  # Option2
  sleep 0.3
  check_strip Picture5 y "$(device $(( menu + y5 + 100 )))" "$(device $(( x5 + w5 / 2 )))" \
    "$(device 100)"
  menu_key x
  expect_program_end "the menu's exit"
}

for scale in 2 1.5; do
  x_session_program velmora6 "Velmora " 455
  strip_colour="192,255,192" marked_colour="63,0,63"
  check_program 40 280 23 360 40 25 212 392

  x_session_program velmora3 "Velmora by Oskedal" 357
  strip_colour="224,224,224" marked_colour="31,31,31"
  check_program 224 288 20 552 40 25 140 320
done
echo "PASS"
