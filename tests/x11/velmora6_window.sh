#!/usr/bin/env bash
# Starts velmora6 in a virtual X session: its window must appear centred with a client area
# of 784 x 455 under the menu bar, its Japanese captions must be drawn as glyphs, and the
# exit button and the menu's exit must end it.
#   velmora6_window.sh BUILD_DIR
set -euo pipefail

build_dir=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
program="$build_dir/velmora6"
[ -x "$program" ] || { echo "no velmora6 in $build_dir" >&2; exit 1; }

if [ -z "${VELMORA_IN_XVFB:-}" ]; then
  exec env VELMORA_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$build_dir"
fi

convert_tool=/usr/bin/convert
compare_tool=/usr/bin/compare
work=$(mktemp -d)
program_pid=
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill "$program_pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts the program and sets window_id once its window is mapped.
start_program() {
  QT_QPA_PLATFORM=xcb "$program" >"$work/out.txt" 2>&1 &
  program_pid=$!
  window_id=
  for _ in $(seq 100); do
    window_id=$(xdotool search --onlyvisible --name '^Velmora $' 2>/dev/null | head -n 1 || true)
    [ -n "$window_id" ] && return 0
    kill -0 "$program_pid" 2>/dev/null || fail "velmora6 ended early: $(cat "$work/out.txt")"
    sleep 0.1
  done
  fail "no window titled 'Velmora ' appeared"
}

# Waits for the program to end by itself and checks that it ended well.
expect_program_end() {
  local how=$1
  for _ in $(seq 50); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$program_pid" 2>/dev/null && fail "velmora6 still runs after $how"
  local status=0
  wait "$program_pid" || status=$?
  program_pid=
  [ "$status" -eq 0 ] || fail "velmora6 ended with status $status after $how"
}

geometry() { xwininfo -id "$window_id" | awk -v key="$1" -F: '$1 ~ key {gsub(/ /, "", $2); print $2}'; }

# Number of colours in a region of the screenshot: drawn text is anti-aliased into many.
colours_in() {
  "$convert_tool" "$work/shot.png" -crop "$1" +repage -format '%k' info:
}

crop() { "$convert_tool" "$work/shot.png" -crop "$1" +repage "$work/$2.png"; }

start_program
sleep 0.5  # let the first paint finish

width=$(geometry '^ *Width')
height=$(geometry '^ *Height')
left=$(geometry 'Absolute upper-left X')
top=$(geometry 'Absolute upper-left Y')
echo "window $window_id: ${width}x${height} at $left,$top"
[ "$width" -eq 784 ] || fail "client width $width, not 784"
menu_height=$((height - 455))
[ "$menu_height" -ge 12 ] && [ "$menu_height" -le 40 ] ||
  fail "client height $height leaves $menu_height pixels for the menu bar"
# (1024 - 798.72) / 2 and (768 - 499.2) / 2, rounded; no window manager adds a frame.
[ "$left" -eq 113 ] || fail "left edge $left, not 113"
[ "$top" -eq 134 ] || fail "top edge $top, not 134"

import -window "$window_id" "$work/shot.png"
# The client area's colour fills the rows under the menu bar.
client_colour=$("$convert_tool" "$work/shot.png" -crop "1x1+780+$((menu_height + 450))" \
  -format '%[pixel:p{0,0}]' info:)
case "$client_colour" in
  *192,192,192*|*C0C0C0*|*c0c0c0*|silver) ;;
  *) fail "the client area is $client_colour, not RGB(192,192,192)" ;;
esac

# Label4 "送りコマ数" and the menu caption are drawn, not left empty.
label4_colours=$(colours_in "89x25+648+$((296 + menu_height))")
[ "$label4_colours" -ge 4 ] || fail "Label4 shows $label4_colours colours: no text drawn"
menu_colours=$(colours_in "120x${menu_height}+0+0")
[ "$menu_colours" -ge 4 ] || fail "the menu bar shows $menu_colours colours: no text drawn"

# "一時停止" and "コマ戻し" are buttons of one size with four characters each: as glyphs they
# differ, as missing-glyph boxes they would be the same picture.
crop "65x33+488+$((296 + menu_height))" command2
crop "65x33+456+$((368 + menu_height))" command4
differing=$("$compare_tool" -metric AE "$work/command2.png" "$work/command4.png" null: 2>&1 || true)
[ "${differing%%[^0-9]*}" -gt 20 ] || fail "the captions of Command2 and Command4 look alike ($differing)"
echo "captions drawn: Label4 $label4_colours colours, menu $menu_colours, buttons differ in $differing pixels"

# The exit button ends the program.
xdotool mousemove --window "$window_id" 690 $((416 + menu_height)) click 1
expect_program_end "a click on the exit button"

# The menu's exit item, by its access keys.
start_program
sleep 0.5
xdotool windowfocus --sync "$window_id" 2>/dev/null || xdotool windowfocus "$window_id"
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key x
expect_program_end "Alt+F, X"
echo "PASS"
