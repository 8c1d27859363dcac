#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside an X session (xvfb-run): starts the window program $1, waits for its window and
# ends it through its file menu (終了, access key X), as a user would. Fails when the
# program does not come up, does not end, or ends with a status other than 0.
set -euo pipefail
program=$1
log=$(mktemp)
trap 'kill "$pid" 2>/dev/null || true; rm -f "$log"' EXIT
QT_QPA_PLATFORM=xcb "$program" >"$log" 2>&1 &
pid=$!
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "$program ended early: $(cat "$log")" >&2; exit 1; }
  sleep 0.1
done
[ -n "$window" ] || { echo "$program showed no window" >&2; exit 1; }
sleep 0.5  # the first paint
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key x
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && { echo "$program still runs after 終了 in its file menu" >&2; exit 1; }
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "$program ended with status $status: $(cat "$log")" >&2; exit 1; }
echo "$program started and quit"
