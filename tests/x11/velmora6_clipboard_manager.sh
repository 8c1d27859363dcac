#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# velmora6's one-step undo on the system clipboard with a clipboard manager running (Xfce's,
# which asks for every new clipboard content and takes an empty clipboard over) and
# without one: every snapshot is readable by other programs during and after a run, the
# step back works, and what the exit leaves on the clipboard.
#   velmora6_clipboard_manager.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"
# The manager talks to its settings over a session bus of its own.
if [ -z "${VELMORA_IN_DBUS:-}" ]; then
  exec env VELMORA_IN_DBUS=1 dbus-run-session -- bash "$0" "$build_dir"
fi

composite_pixel() { client_pixel $(( 424 + $1 )) $(( 40 + $2 )); }

# Reads the clipboard's picture as another program does; fails when none is delivered.
paste_to() { timeout 10 xclip -selection clipboard -t image/png -o >"$1" 2>"$work/xclip.txt"; }

start_manager() {
  xfce4-clipman >"$work/manager.txt" 2>&1 &
  manager_pid=$!
  # It is ready once it has taken the clipboard manager's selection; give it a moment.
  sleep 2
  kill -0 "$manager_pid" 2>/dev/null || fail "the clipboard manager did not start: $(cat "$work/manager.txt")"
}

# Opens the RGB test clip, plays, pauses and picks columns 100 .. 200 (w = 100: strips at
# 0, 100, 200 and 300, the last one reaching the edge).
prepare() {
  start_program
  open_clip "$work/clip.avi"
  click 584 312  # play
  sleep 0.5
  click 520 312  # pause
  click 140 290
  click 240 290
}

# Types N into Text1, the frames-per-strip box.
frames_per_strip() {
  xdotool windowfocus --sync "$window_id" 2>/dev/null || xdotool windowfocus "$window_id"
  click 736 305
  xdotool key --clearmodifiers ctrl+a
  xdotool type "$1"
}

# Strip k of the composite shows frame r0 + k's columns 100 .. 200 (green = column).
check_strips() {  # IMAGE STRIPS_DRAWN
  local k x
  for k in 0 1 2 3; do
    x=$(( 100 * k + 50 ))
    [ "$x" -lt 320 ] || continue
    if [ "$k" -lt "$2" ]; then
      [ "$(pixel_of "$1" "$x" 10 | cut -d, -f2)" = "150" ] || fail "$1: strip $k missing at column $x"
    else
      [ "$(pixel_of "$1" "$x" 10)" = "255,255,255" ] || fail "$1: strip $k present at column $x"
    fi
  done
}

# A whole run with frames per strip 3 (about 0.9 s between strips): the snapshot pasted
# after each strip's time, the composite and the step back.
run_and_step_back() {
  prepare
  frames_per_strip 3
  click 696 336  # CmdGosei
  local i
  for i in 1 2 3 4 5 6 7 8; do
    sleep 0.45
    paste_to "$work/during$i.png" || fail "snapshot $i not delivered during the run: $(cat "$work/xclip.txt")"
    [ "$("$convert_tool" "$work/during$i.png" -format '%wx%h' info:)" = "320x240" ] ||
      fail "snapshot $i is not a 320x240 picture"
  done
  for _ in $(seq 40); do
    shot
    [ "$(composite_pixel 319 10)" != "255,255,255" ] && break
    sleep 0.25
  done
  paste_to "$work/last.png" || fail "the last snapshot is not delivered: $(cat "$work/xclip.txt")"
  check_strips "$work/last.png" 3
  click 720 16  # Cmd_back: the composite before its last strip comes back
  shot
  [ "$(composite_pixel 250 10 | cut -d, -f2)" = "150" ] || fail "the step back lost strip 2"
  [ "$(composite_pixel 310 10)" = "255,255,255" ] || fail "the step back left the last strip"
}

write_test_clip "$work/clip.avi" 200

echo "== without a clipboard manager"
run_and_step_back
menu_key x
expect_program_end "the menu's exit"
if paste_to "$work/after.png"; then fail "a picture outlived the program without a manager"; fi

echo "== with the clipboard manager"
start_manager
run_and_step_back
menu_key x
expect_program_end "the menu's exit" 10
paste_to "$work/after.png" || fail "the snapshot died with the program: $(cat "$work/xclip.txt")"
check_strips "$work/after.png" 3

echo "== with the clipboard manager, the exit during a run"
# Ten frames a strip: three seconds of pacing, in which the exit's keys wait for a yield.
# The window must go at once. The program offers the clipboard to the manager before it
# ends, which takes Qt up to five seconds with this manager (it takes the picture but
# never answers the offer); then it ends well.
prepare
frames_per_strip 10
click 696 336
sleep 1
menu_key x
SECONDS=0
for _ in $(seq 80); do
  xwininfo -id "$window_id" >/dev/null 2>&1 || break
  sleep 0.1
done
xwininfo -id "$window_id" >/dev/null 2>&1 && fail "the window stays after the menu's exit"
[ "$SECONDS" -le 4 ] || fail "the window went only after $SECONDS s: the exit waited for the run"
expect_program_end "the menu's exit during a run" 10
echo "PASS"
