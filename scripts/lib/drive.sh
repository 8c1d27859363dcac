# SPDX-License-Identifier: GPL-3.0-or-later
# What the screenshot and measuring scripts share on top of the X session helpers: switching
# between the two programs in one session and quick clicks for long runs of presses.
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/x11/lib/session.sh"

import_tool=/usr/bin/import

# Points the session helpers at another program of the same build.
use_program() {
  program_name=$1
  window_title=$2
  client_height=$3
  program="$build_dir/$program_name"
  [ -x "$program" ] || fail "no $program_name in $build_dir"
}

# A click without the long settling pause: for presses the program handles at once.
quick_click() {
  xdotool mousemove --window "$window_id" "$1" $(($2 + menu_height)) click 1
  sleep "${3:-0.15}"
}

# Screenshot of the window alone, written to $1.
shoot_window() { "$import_tool" -window "$window_id" "$1"; }

# Waits until the composite pane's pixel at client X, Y is no longer white; gives up after
# $3 seconds. Prints nothing; fails the script on time-out.
wait_until_coloured() {
  local deadline=$((SECONDS + $3))
  while [ "$SECONDS" -lt "$deadline" ]; do
    shot
    [ "$(client_pixel "$1" "$2")" != "255,255,255" ] && return 0
    sleep 0.2
  done
  fail "the composite did not fill within $3 s"
}

# Ends the program through its exit button at client X, Y.
press_exit() {
  click "$1" "$2"
  expect_program_end "a click on the exit button"
}
