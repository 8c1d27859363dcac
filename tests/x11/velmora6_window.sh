#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts velmora6 in a virtual X session: its window must appear centred with a client area
# of 784 x 455 under the menu bar, its Japanese captions must be drawn as glyphs, and the
# exit button and the menu's exit must end it.
#   velmora6_window.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"

start_program

check_client_width 784
# (1024 - 798.72) / 2 and (768 - 499.2) / 2, rounded; no window manager adds a frame.
[ "$left" -eq 113 ] || fail "left edge $left, not 113"
[ "$top" -eq 134 ] || fail "top edge $top, not 134"

shot_when_drawn "89x25+648+$((296 + menu_height))"
# The client area's colour fills the rows under the menu bar.
client_colour=$(client_pixel 780 450)
[ "$client_colour" = "192,192,192" ] || fail "the client area is $client_colour, not 192,192,192"

# Label4 "送りコマ数" and the menu caption are drawn, not left empty.
label4_colours=$(text_colours "89x25+648+$((296 + menu_height))" Label4)
menu_colours=$(text_colours "120x${menu_height}+0+0" "the menu bar")

# "一時停止" and "コマ戻し" are buttons of one size with four characters each: as glyphs they
# differ, as missing-glyph boxes they would be the same picture.
differing=$(regions_differ "65x33+488+$((296 + menu_height))" "65x33+456+$((368 + menu_height))") ||
  fail "the captions of Command2 and Command4 look alike ($differing)"
echo "captions drawn: Label4 $label4_colours colours, menu $menu_colours, buttons differ in $differing pixels"

# The exit button ends the program.
xdotool mousemove --window "$window_id" 690 $((416 + menu_height)) click 1
expect_program_end "a click on the exit button"

# The menu's exit item, by its access keys.
start_program
menu_key x
expect_program_end "Alt+F, X"
echo "PASS"
