#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts velmora3 in a virtual X session: its window must keep the client area of 927 x 357
# its table gives it, where the window system put it, draw its Japanese captions as
# glyphs, show grey pick strips, and end from the exit button (leaving the clipboard
# alone) and the menu.
#   velmora3_window.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora3 "Velmora by Oskedal" 357 "$@"

start_program
check_client_width 927
# Start-up neither centres nor moves the window: it stays where the window system put it,
# which without a window manager is the screen's corner, not the centre at 48.
[ "$left" -eq 0 ] && [ "$top" -eq 0 ] || fail "the window was moved to $left,$top"

shot_when_drawn "249x17+264+$((328 + menu_height))"
label3_colours=$(text_colours "249x17+264+$((328 + menu_height))" Label3)
gosei_colours=$(text_colours "129x33+40+$((152 + menu_height))" CmdGosei)
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
