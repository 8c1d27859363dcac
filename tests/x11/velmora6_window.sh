#!/usr/bin/env bash
# Starts velmora6 in a virtual X session: its window must appear centred with a client area
# of 784 x 455 under the menu bar, its Japanese captions must be drawn as glyphs, and the
# exit button and the menu's exit must end it.
#   velmora6_window.sh BUILD_DIR
set -euo pipefail
program_name=velmora6
window_title="Velmora "
client_height=455
source "$(dirname "$0")/lib/session.sh"
x_session_begin "$@"

start_program

width=$(geometry '^ *Width')
left=$(geometry 'Absolute upper-left X')
top=$(geometry 'Absolute upper-left Y')
echo "window $window_id: ${width} wide, menu $menu_height high, at $left,$top"
[ "$width" -eq 784 ] || fail "client width $width, not 784"
[ "$menu_height" -ge 12 ] && [ "$menu_height" -le 40 ] ||
  fail "the client area leaves $menu_height pixels for the menu bar"
# (1024 - 798.72) / 2 and (768 - 499.2) / 2, rounded; no window manager adds a frame.
[ "$left" -eq 113 ] || fail "left edge $left, not 113"
[ "$top" -eq 134 ] || fail "top edge $top, not 134"

# A busy machine may take a while for the first paint: shoot until the caption is there.
for _ in $(seq 20); do
  shot
  [ "$(colours_in "89x25+648+$((296 + menu_height))")" -ge 4 ] && break
  sleep 0.25
done
# The client area's colour fills the rows under the menu bar.
client_colour=$(client_pixel 780 450)
[ "$client_colour" = "192,192,192" ] || fail "the client area is $client_colour, not 192,192,192"

# Label4 "送りコマ数" and the menu caption are drawn, not left empty.
label4_colours=$(colours_in "89x25+648+$((296 + menu_height))")
[ "$label4_colours" -ge 4 ] || fail "Label4 shows $label4_colours colours: no text drawn"
menu_colours=$(colours_in "120x${menu_height}+0+0")
[ "$menu_colours" -ge 4 ] || fail "the menu bar shows $menu_colours colours: no text drawn"

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
