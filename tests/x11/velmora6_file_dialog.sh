#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# velmora6's file dialog in a virtual X session: on a Japanese desktop Qt's own texts are
# Japanese (on an English one English), and opening clips through the dialog, or
# cancelling it, leaves the user's home folder exactly as it was: no settings file.
#   velmora6_file_dialog.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"
# A desktop session has its bus; without one, the D-Bus library would start a bus of its own
# on the program's first call and note it in the home folder.
if [ -z "${VELMORA_IN_DBUS:-}" ]; then
  exec env VELMORA_IN_DBUS=1 dbus-run-session -- bash "$0" "$build_dir"
fi

# Opens the file menu's dialog and sets `dialog` and `dialog_title`.
show_dialog() {
  menu_key o
  dialog=
  for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name '.' 2>/dev/null | grep -v "^$window_id\$" |
      while read -r id; do [ -n "$(xdotool getwindowname "$id" 2>/dev/null)" ] && echo "$id"; done |
      sed -n 1p || true)
    [ -n "$dialog" ] && break
    sleep 0.1
  done
  [ -n "$dialog" ] || fail "no file dialog appeared"
  dialog_title=$(xdotool getwindowname "$dialog")
  sleep 0.5
}

# One program run with LANG=$1 and an empty home: the dialog's title must read $2.
run_in() {
  local home="$work/home-$1"
  mkdir -p "$home"
  program_env=(HOME="$home" LANG="$1" LC_ALL= LC_MESSAGES= LANGUAGE= XDG_CONFIG_HOME= XDG_CACHE_HOME=
    XDG_DATA_HOME= XDG_STATE_HOME=)
  start_program
  show_dialog
  [ "$dialog_title" = "$2" ] || fail "LANG=$1: the dialog is titled '$dialog_title', not '$2'"
  xdotool type --delay 20 "$work/clip.avi"
  xdotool key Return
  sleep 1.5
  click 584 312  # play: the chosen clip shows
  sleep 0.5
  shot
  [ "$(client_pixel 100 100)" != "255,255,255" ] || fail "LANG=$1: the chosen clip does not show"
  show_dialog
  xdotool key Escape
  sleep 0.5
  menu_key x
  expect_program_end "the menu's exit"
  local left
  left=$(find "$home" -mindepth 1 | sed -n 1,5p)
  [ -z "$left" ] || fail "LANG=$1: the program wrote into the home folder: $left"
  echo "LANG=$1: dialog '$dialog_title', home left empty"
}

write_test_clip "$work/clip.avi" 20
run_in ja_JP.UTF-8 "開く"
run_in C.UTF-8 "Open"
echo "PASS"
