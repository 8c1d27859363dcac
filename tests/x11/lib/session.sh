# SPDX-License-Identifier: GPL-3.0-or-later
# What the X session tests share: a virtual screen, one program under test, screenshots,
# clicks at client-area pixels and the ways the program must end.
# The sourcing script calls x_session_begin PROGRAM TITLE CLIENT_HEIGHT BUILD_DIR; setting
# x_screen first (WIDTHxHEIGHTxDEPTH) gives the virtual screen another size.

fail() { echo "FAIL: $*" >&2; exit 1; }

convert_tool=/usr/bin/convert
compare_tool=/usr/bin/compare

# Names the program, its exact window title and its client height under the menu bar;
# checks the build, makes a work folder and starts a virtual X server for the script.
x_session_begin() {
  program_name=$1
  window_title=$2
  client_height=$3
  build_dir=$(cd "${4:?usage: $0 BUILD_DIR}" && pwd)
  program="$build_dir/$program_name"
  clipgen="$build_dir/velmora-clipgen"
  [ -x "$program" ] || { echo "no $program_name in $build_dir" >&2; exit 1; }
  work=$(mktemp -d)
  program_pid=
  x_server_pid=
  trap x_session_cleanup EXIT
  x_server_start
}

# Xvfb picks a free display itself and names it once it accepts connections: choosing the
# number beforehand (xvfb-run -a) races with a server of the test before that is still
# shutting down, and the program then meets a display nobody serves. -noreset: a server
# resets when its last client leaves (xdpyinfo below, a test's xdotool), and a program
# connecting meanwhile is refused.
x_server_start() {
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 "${x_screen:-1024x768x24}" \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
  x_server_pid=$!
  for _ in $(seq 200); do
    [ "$(wc -l <"$work/display")" -ge 1 ] && break
    kill -0 "$x_server_pid" 2>/dev/null || fail "Xvfb ended: $(cat "$work/xvfb.log")"
    sleep 0.05
  done
  [ "$(wc -l <"$work/display")" -ge 1 ] || fail "Xvfb named no display in 10 s"
  export DISPLAY=":$(head -n 1 "$work/display")"
  unset XAUTHORITY WAYLAND_DISPLAY
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "Xvfb on $DISPLAY takes no connection: $(cat "$work/xvfb.log")"
}

# Switches to another program of the build for the next start_program.
x_session_program() {
  program_name=$1
  window_title=$2
  client_height=$3
  program="$build_dir/$program_name"
  [ -x "$program" ] || fail "no $program_name in $build_dir"
}

x_session_cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill "$program_pid"; fi
  if [ -n "$x_server_pid" ]; then
    kill "$x_server_pid" 2>/dev/null || true
    wait "$x_server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}

# An RGB test clip: red the frame, green the column, blue the row.
write_test_clip() {
  [ -x "$clipgen" ] || fail "no velmora-clipgen in $build_dir"
  "$clipgen" "$1" --codec rgb --size 320x240 --frames "${2:-120}" --pattern test >/dev/null
}

# Starts the program, with the environment program_env adds (NAME=value words); sets
# window_id and menu_height once its window is mapped. It runs on Qt's xcb platform unless
# program_platform says otherwise (empty: the program's own choice).
program_env=()
start_program() {
  local platform=(QT_QPA_PLATFORM="${program_platform-xcb}")
  [ -n "${program_platform-xcb}" ] || platform=(-u QT_QPA_PLATFORM)
  env "${platform[@]}" "${program_env[@]}" "$program" >"$work/out.txt" 2>&1 &
  program_pid=$!
  window_id=
  for _ in $(seq 100); do
    window_id=$(xdotool search --onlyvisible --name "^$window_title\$" 2>/dev/null | head -n 1 || true)
    [ -n "$window_id" ] && break
    kill -0 "$program_pid" 2>/dev/null || fail "$program_name ended early: $(cat "$work/out.txt")"
    sleep 0.1
  done
  [ -n "$window_id" ] || fail "no window titled '$window_title' appeared"
  sleep 0.5  # let the first paint finish
  menu_height=$(( $(geometry '^ *Height') - client_height ))
}

# Waits for the program to end by itself (up to SECONDS, 5 by default) and checks that it
# ended well.
expect_program_end() {
  local how=$1
  for _ in $(seq $(( ${2:-5} * 10 ))); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$program_pid" 2>/dev/null && fail "$program_name still runs after $how"
  local status=0
  wait "$program_pid" || status=$?
  program_pid=
  [ "$status" -eq 0 ] || fail "$program_name ended with status $status after $how"
}

geometry() { xwininfo -id "$window_id" | awk -v key="$1" -F: '$1 ~ key {gsub(/ /, "", $2); print $2}'; }

shot() { import -window "$window_id" "$work/shot.png"; }

# Number of colours in a region of the screenshot: drawn text is anti-aliased into many.
colours_in() { "$convert_tool" "$work/shot.png" -crop "$1" +repage -format '%k' info:; }

crop() { "$convert_tool" "$work/shot.png" -crop "$1" +repage "$work/$2.png"; }

# "r,g,b" of one pixel of an image file.
pixel_of() {
  "$convert_tool" "$1" -crop "1x1+$2+$3" +repage \
    -format '%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]\n' info:
}

# Several pixels of one image in one reading of it, a line each as pixel_of gives it:
#   pixels_of FILE X1 Y1 [X2 Y2 ...]
pixels_of() {
  local file=$1 format=""
  shift
  while [ $# -ge 2 ]; do
    format+="%[fx:round(255*p{$1,$2}.r)],%[fx:round(255*p{$1,$2}.g)],%[fx:round(255*p{$1,$2}.b)]\n"
    shift 2
  done
  "$convert_tool" "$file" -format "$format" info:
}

# A pixel of the last screenshot, in client-area coordinates.
client_pixel() { pixel_of "$work/shot.png" "$1" $(( $2 + menu_height )); }

# A click at a pixel of the client area (below the menu bar).
click() { xdotool mousemove --window "$window_id" "$1" $(( $2 + menu_height )) click 1; sleep 0.3; }

# The file menu by its access keys: Alt+F, then the item's letter.
menu_key() {
  xdotool windowfocus --sync "$window_id" 2>/dev/null || xdotool windowfocus "$window_id"
  xdotool key --clearmodifiers alt+f
  sleep 0.3
  xdotool key "$1"
}

# Opens a clip through the menu and the file dialog.
open_clip() {
  menu_key o
  local dialog=
  for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name 'Open|開く|ファイル' 2>/dev/null | grep -v "^$window_id\$" | head -n 1 || true)
    [ -n "$dialog" ] && break
    sleep 0.1
  done
  [ -n "$dialog" ] || fail "no file dialog appeared"
  sleep 0.5
  xdotool type --delay 20 "$1"
  xdotool key Return
  sleep 2  # the open runs after the dialog has gone; a busy machine is slow
}

# How many pixels of the 320 x 240 composite standing at client LEFT, TOP in the last
# screenshot differ from what the awk function expected(x, y) (given as $3) says: "r,g,b".
composite_mismatches() {
  crop "320x240+$1+$(( $2 + menu_height ))" composite
  "$convert_tool" "$work/composite.png" -depth 8 txt:- | awk -F'[ ,:()]+' "$3"'
    /^#/ { next }
    { if ($3 "," $4 "," $5 != expected($1, $2)) bad++ }
    END { print bad + 0 }'
}

# Whether two equally sized regions of the screenshot differ in more than 20 pixels: two
# different captions drawn as glyphs do, two rows of missing-glyph boxes do not.
regions_differ() {
  crop "$1" first_region
  crop "$2" second_region
  local differing
  differing=$("$compare_tool" -metric AE "$work/first_region.png" "$work/second_region.png" null: 2>&1 || true)
  echo "${differing%%[^0-9]*}"
  [ "${differing%%[^0-9]*}" -gt 20 ]
}

# Checks the client area's width and the menu bar's height; sets left and top.
check_client_width() {
  local width
  width=$(geometry '^ *Width')
  left=$(geometry 'Absolute upper-left X')
  top=$(geometry 'Absolute upper-left Y')
  echo "window $window_id: ${width} wide, menu $menu_height high, at $left,$top"
  [ "$width" -eq "$1" ] || fail "client width $width, not $1"
  [ "$menu_height" -ge 12 ] && [ "$menu_height" -le 40 ] ||
    fail "the client area leaves $menu_height pixels for the menu bar"
}

# Shoots until REGION shows drawn text: a busy machine may take a while for the first paint.
shot_when_drawn() {
  for _ in $(seq 20); do
    shot
    [ "$(colours_in "$1")" -ge 4 ] && return 0
    sleep 0.25
  done
}

# The colours of REGION of the screenshot, failing where too few show drawn text.
text_colours() {
  local count
  count=$(colours_in "$1")
  [ "$count" -ge 4 ] || fail "$2 shows $count colours: no text drawn"
  echo "$count"
}
