#!/usr/bin/env bash
# Starts velmora3 in a virtual X session: its window must keep its laid-out client area of
# 927 x 357 where the window system put it, draw its Japanese captions as glyphs, show grey
# pick strips, and end from the exit button (leaving the clipboard alone) and the menu.
#   velmora3_window.sh BUILD_DIR
set -euo pipefail
program_name=velmora3
window_title="Velmora by Oskedal"
client_height=357
source "$(dirname "$0")/lib/session.sh"
x_session_begin "$@"

start_program
width=$(geometry '^ *Width')
left=$(geometry 'Absolute upper-left X')
top=$(geometry 'Absolute upper-left Y')
echo "window $window_id: ${width} wide, menu $menu_height high, at $left,$top"
[ "$width" -eq 927 ] || fail "client width $width, not 927"
[ "$menu_height" -ge 12 ] && [ "$menu_height" -le 40 ] ||
  fail "the client area leaves $menu_height pixels for the menu bar"
# Start-up neither centres nor moves the window: it stays where the window system put it,
# which without a window manager is the screen's corner, not the centre at 48.
[ "$left" -eq 0 ] && [ "$top" -eq 0 ] || fail "the window was moved to $left,$top"

# A busy machine may take a while for the first paint: shoot until Label3 is there.
for _ in $(seq 20); do
  shot
  [ "$(colours_in "249x17+264+$((328 + menu_height))")" -ge 4 ] && break
  sleep 0.25
done
label3_colours=$(colours_in "249x17+264+$((328 + menu_height))")
[ "$label3_colours" -ge 4 ] || fail "Label3 shows $label3_colours colours: no text drawn"
gosei_colours=$(colours_in "129x33+40+$((152 + menu_height))")
[ "$gosei_colours" -ge 4 ] || fail "CmdGosei shows $gosei_colours colours: no text drawn"
# "一時停止" (Command2) and "コマ戻し" (Command4): buttons of one size, four characters each.
differing=$(regions_differ "65x33+80+$((40 + menu_height))" "65x33+40+$((120 + menu_height))") ||
  fail "the captions of Command2 and Command4 look alike ($differing)"
echo "captions drawn: Label3 $label3_colours colours, CmdGosei $gosei_colours, buttons differ in $differing pixels"

strip=$(client_pixel $((224 + 5)) $((288 + 5)))
[ "$strip" = "224,224,224" ] || fail "the pick strip is $strip, not 224,224,224"
client=$(client_pixel 920 350)
[ "$client" = "192,192,192" ] || fail "the client area is $client, not 192,192,192"

# The exit button ends the program and leaves another program's clipboard text alone.
printf 'kept by another program' | xclip -selection clipboard
sleep 0.3
click $((40 + 64)) $((232 + 16))
expect_program_end "a click on the exit button"
[ "$(xclip -selection clipboard -o)" = "kept by another program" ] ||
  fail "the exit button changed the clipboard"

start_program
menu_key x
expect_program_end "Alt+F, X"
echo "PASS"
